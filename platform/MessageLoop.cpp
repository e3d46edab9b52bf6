#include "platform/MessageLoop.h"

#include "platform/Threads.h"

void ProcessMessages() {}

void WaitMessage() { Sleep(50); }
