// The engine fixture, the fault-injecting server and the update module's test
// helpers, compiled into this suite as well: the install window is tested
// through the same real module, engine and server.
#include "Http/FaultServer.cpp"
#include "Http/HttpTestFixture.cpp"
#include "Updater/UpdaterTestSupport.cpp"
