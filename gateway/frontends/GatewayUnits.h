#pragma once
// The start of the gateway's units, in dependency order: the engine core,
// the in-process front end, the server mode, the Windows CGI front end, the
// standard CGI front end and the selecting component. main() (or the
// library's load routine) calls it once, after InitProcess and before any
// form exists. A CGI process that finds a resident server alive
// hands its request over in here and never returns.
void StartGatewayUnits();
