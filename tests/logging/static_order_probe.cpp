#include "tests/logging/static_order_probe.h"

#include "logging/log_interface.h"

namespace vireo::test {

namespace {

struct Probe {
  Probe() : saw_logging_alive(logging_alive) { VIREO_LOG(LC_CORE, LL_PROGRESS, L"probe constructed"); }
  bool saw_logging_alive;
};

Probe probe;

}  // namespace

bool StaticOrderProbeSawLoggingAlive() { return probe.saw_logging_alive; }

}  // namespace vireo::test
