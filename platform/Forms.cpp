#include "platform/Forms.h"

#include <algorithm>

#include "platform/MessageLoop.h"

TApplication* Application = nullptr;

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
    ComponentState |= csDestroying;
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
    if (owner_) {
        auto& siblings = owner_->components_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TCustomModule::FinishCreation() {
    // Loaded may create further components (a front end owned by this
    // form), so walk a copy of the list as it stood when loading began.
    const std::vector<TComponent*> loaded = Components();
    for (TComponent* component : loaded) component->Loaded();
    Loaded();
    if (OnCreate) OnCreate(this);
}

void TApplication::FreeForms() {
    // Each pass frees one form, which leaves the list; a form's destructor
    // may free others.
    for (;;) {
        TCustomModule* last = nullptr;
        const auto& owned = Components();
        for (auto it = owned.rbegin(); it != owned.rend() && !last; ++it) last = dynamic_cast<TCustomModule*>(*it);
        if (!last) return;
        delete last;
    }
}

void TApplication::Run() {
    while (!terminated_) {
        WaitMessage();
        ProcessMessages();
    }
}

void TApplication::ProcessMessages() { ::ProcessMessages(); }
