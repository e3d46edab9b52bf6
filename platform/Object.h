#pragma once
// Root of every class the program's objects derive from; the sender parameters of
// events are TObject pointers.
#include <functional>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
};

// An event holds a method of another object: empty means unassigned.
using TNotifyEvent = std::function<void(TObject* sender)>;
