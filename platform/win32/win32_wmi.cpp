#include "platform/win32/win32_wmi.h"

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/text.h"
#include "platform/win32/unique_handles.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

using win32::UniqueBstr;
using win32::UniqueCom;
using win32::UniqueVariant;

[[noreturn]] void Raise(HRESULT result, std::string_view call, std::string description = {}) {
  if (description.empty()) description = win32::SystemMessage(static_cast<std::uint32_t>(result));
  if (description.empty()) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    description = "Error de automatización en " + std::string(call) + " (" + code + ").";
  }
  throw Failure(static_cast<std::int32_t>(result), std::move(description));
}

void Check(HRESULT result, std::string_view call) {
  if (FAILED(result)) Raise(result, call);
}

// The object a VARIANT holds, as IDispatch; null when it holds none.
UniqueCom<IDispatch> TakeDispatch(VARIANT* value) {
  IUnknown* object = nullptr;
  if (value->vt == VT_DISPATCH) object = value->pdispVal;
  if (value->vt == VT_UNKNOWN) object = value->punkVal;
  if (object == nullptr) return nullptr;
  IDispatch* dispatch = nullptr;
  if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return nullptr;
  }
  return UniqueCom<IDispatch>(dispatch);
}

// The arguments of one call, in the reversed order IDispatch::Invoke wants.
class Arguments {
 public:
  explicit Arguments(std::span<const AutomationArg> args) : values_(args.size()) {
    for (auto& value : values_) ::VariantInit(&value);
    try {
      for (std::size_t i = 0; i < args.size(); ++i) Fill(args[i], &values_[args.size() - 1 - i]);
    } catch (...) {
      Clear();
      throw;
    }
  }
  ~Arguments() { Clear(); }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  DISPPARAMS Params() {
    return DISPPARAMS{values_.data(), nullptr, static_cast<UINT>(values_.size()), 0};
  }

 private:
  static void Fill(const AutomationArg& arg, VARIANT* out) {
    if (const auto* text = std::get_if<std::string>(&arg)) {
      const std::wstring wide = win32::Wide(*text);
      BSTR bstr = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (bstr == nullptr) Raise(E_OUTOFMEMORY, "SysAllocStringLen");
      out->vt = VT_BSTR;
      out->bstrVal = bstr;
    } else if (const auto* number = std::get_if<std::int32_t>(&arg)) {
      out->vt = VT_I4;
      out->lVal = *number;
    } else {
      // An array of numbers goes as an array of VARIANTs, each a VT_I4.
      const auto& numbers = std::get<std::vector<std::int32_t>>(arg);
      win32::UniqueSafeArray array(
          ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(numbers.size())));
      if (!array) Raise(E_OUTOFMEMORY, "SafeArrayCreateVector");
      for (LONG i = 0; i < static_cast<LONG>(numbers.size()); ++i) {
        VARIANT element;
        ::VariantInit(&element);
        element.vt = VT_I4;
        element.lVal = numbers[static_cast<std::size_t>(i)];
        Check(::SafeArrayPutElement(array.get(), &i, &element), "SafeArrayPutElement");
      }
      out->vt = VT_ARRAY | VT_VARIANT;
      out->parray = array.release();
    }
  }

  void Clear() {
    for (auto& value : values_) ::VariantClear(&value);
  }

  std::vector<VARIANT> values_;
};

class DispatchObject final : public AutomationObject {
 public:
  explicit DispatchObject(UniqueCom<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    std::wstring name = win32::Wide(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    Check(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
          "GetIDsOfNames(" + std::string(method) + ")");
    Arguments arguments(args);
    UniqueVariant result;
    Call(id, arguments.Params(), result.get(), "Invoke(" + std::string(method) + ")");
    auto object = TakeDispatch(result.get());
    if (!object) return nullptr;
    return std::make_unique<DispatchObject>(std::move(object));
  }

  std::unique_ptr<AutomationEnumerator> NewEnum() override;

 private:
  void Call(DISPID id, DISPPARAMS params, VARIANT* result, std::string_view call) {
    EXCEPINFO exception{};
    UINT bad_argument = 0;
    const HRESULT hr =
        dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          &params, result, &exception, &bad_argument);
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      UniqueBstr source(exception.bstrSource);
      UniqueBstr description(exception.bstrDescription);
      UniqueBstr help(exception.bstrHelpFile);
      const HRESULT raised = exception.scode != 0 ? exception.scode : hr;
      std::string text;
      if (description) text = win32::Utf8(std::wstring_view(description.get()));
      Raise(raised, call, std::move(text));
    }
    Check(hr, call);
  }

  UniqueCom<IDispatch> dispatch_;
};

class VariantEnumerator final : public AutomationEnumerator {
 public:
  explicit VariantEnumerator(UniqueCom<IEnumVARIANT> items) : items_(std::move(items)) {}

  std::unique_ptr<AutomationObject> Next() override {
    UniqueVariant item;
    ULONG fetched = 0;
    const HRESULT hr = items_->Next(1, item.get(), &fetched);
    Check(hr, "IEnumVARIANT::Next");
    if (hr == S_FALSE || fetched == 0) return nullptr;
    auto object = TakeDispatch(item.get());
    if (!object) Raise(DISP_E_TYPEMISMATCH, "IEnumVARIANT::Next");
    return std::make_unique<DispatchObject>(std::move(object));
  }

 private:
  UniqueCom<IEnumVARIANT> items_;
};

std::unique_ptr<AutomationEnumerator> DispatchObject::NewEnum() {
  UniqueVariant result;
  Call(DISPID_NEWENUM, DISPPARAMS{}, result.get(), "_NewEnum");
  IUnknown* object = nullptr;
  if (result.get()->vt == VT_UNKNOWN) object = result.get()->punkVal;
  if (result.get()->vt == VT_DISPATCH) object = result.get()->pdispVal;
  if (object == nullptr) Raise(DISP_E_TYPEMISMATCH, "_NewEnum");
  IEnumVARIANT* items = nullptr;
  Check(object->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)), "_NewEnum");
  return std::make_unique<VariantEnumerator>(UniqueCom<IEnumVARIANT>(items));
}

}  // namespace

ComApartment::ComApartment() {
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  joined_ = SUCCEEDED(hr);  // S_FALSE too: each success is matched by one uninitialize
}

ComApartment::~ComApartment() {
  if (joined_) ::CoUninitialize();
}

std::unique_ptr<AutomationObject> Win32Wmi::BindMoniker(std::string_view moniker) {
  const std::wstring name = win32::Wide(moniker);
  IDispatch* object = nullptr;
  Check(::CoGetObject(name.c_str(), nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)),
        "CoGetObject");
  return std::make_unique<DispatchObject>(UniqueCom<IDispatch>(object));
}

}  // namespace sorbantilex
