#include "gateway/engine/RequestContext.h"

thread_local TRequestContext RequestContext;
std::atomic<std::int32_t> RequestCount{0};
std::atomic<TCriticalSection*> RequestLock{nullptr};

void BindEngine(THttpEngine* engine) { RequestContext.CurrentEngine = engine; }
