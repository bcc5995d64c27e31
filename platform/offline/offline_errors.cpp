#include "platform/offline/offline_errors.h"

#include <string>

#include "registry/failure.h"

namespace sorbantilex::offline {

void OfflineAsFailure(const std::function<void()>& work) {
  try {
    work();
  } catch (const Failure&) {
    throw;
  } catch (const OfflineRefusal& refusal) {
    throw Failure(kOfflineFailureNumber, refusal.what());
  } catch (const CommitError& error) {
    throw Failure(kOfflineFailureNumber, error.what());
  } catch (const std::exception& error) {
    throw Failure(
        kOfflineFailureNumber,
        std::string("Error inesperado, no se ha guardado ningún cambio: ") + error.what());
  }
}

}  // namespace sorbantilex::offline
