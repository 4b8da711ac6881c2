#pragma once
// A static object in a library that the test program links after the logging
// library: without an explicit priority the platform's start-up would
// construct it before the Logging object.

namespace vireo::test {

// Whether logging_alive was set when the probe's constructor ran.
bool StaticOrderProbeSawLoggingAlive();

}  // namespace vireo::test
