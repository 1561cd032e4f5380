// The HTTP suite's test server starter and engine fixture, compiled into this
// suite as well: the update module is tested through the same real engine
// and the same fault-injecting server.
#include "Http/FaultServer.cpp"
#include "Http/HttpTestFixture.cpp"
