#pragma once
// How the engine's steps meet a failure: a guarded step hands any failure on
// as an Exception; an ignoring step lets nothing out.
#include <exception>

#include "platform/Exception.h"

// Runs step; a failure it raises reaches failed as an Exception: one of
// the system's own as it is, a standard one with its text, anything else
// with a message of its own. No failure skips the error handling.
template <class TStep, class TFailed>
void Guarded(TStep step, TFailed failed) {
    try {
        step();
    } catch (const Exception& e) {
        failed(e);
    } catch (const std::exception& e) {
        failed(Exception(e.what()));
    } catch (...) {
        failed(Exception("Unknown exception"));
    }
}

// Runs step and drops whatever it raises: each step of an ending runs even
// when an earlier one failed.
template <class TStep>
void Ignoring(TStep step) {
    try {
        step();
    } catch (...) {
    }
}
