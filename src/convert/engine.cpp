#include "convert/engine.h"

#include "common/flags.h"

namespace kelvor {

Engine::Engine(UiPort& ui) : ui_(ui), input_(ui), scan_(input_, tracks_, idr_, ui) {}

Engine::~Engine() = default;

void Engine::runScan() { scan_.run(); }

ConversionOutcome Engine::runConversion(const ConversionRequest&) {
  // Placeholder until the conversion pass lands.
  ConversionOutcome outcome;
  ui_.finished();
  return outcome;
}

}  // namespace kelvor
