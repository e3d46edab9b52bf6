#pragma once
// The application's message queue. Until the socket layer registers its
// poller, processing messages finds nothing to do.

// Drains the queue: delivers posted messages, socket readiness, timers and
// finished host look-ups, then returns without waiting.
void ProcessMessages();
// Waits (bounded) until a message may be waiting.
void WaitMessage();
