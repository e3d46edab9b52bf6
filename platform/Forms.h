#pragma once
// The component framework: components with an owner that frees them, forms
// and data modules created from code that sets their stored values, and the
// application object with its forms and message loop.
#include <string>
#include <vector>

#include "platform/Object.h"

constexpr int csLoading = 0x01;
constexpr int csDesigning = 0x02;
constexpr int csDestroying = 0x04;

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return components_; }
    int ComponentState = 0;
    std::string Name;
    bool Designing() const { return (ComponentState & csDesigning) != 0; }

    // Called after the stored property values have been set.
    virtual void Loaded() { ComponentState &= ~csLoading; }

private:
    TComponent* owner_;
    std::vector<TComponent*> components_;
};

// A form or data module: an owner of components with a creation event. Its
// constructor creates the components and sets their stored values (marking
// them loading); FinishCreation then calls Loaded on each, in creation
// order, and fires OnCreate.
class TCustomModule : public TComponent {
public:
    explicit TCustomModule(TComponent* owner) : TComponent(owner) {}
    TNotifyEvent OnCreate;
    void FinishCreation();
};

class TForm : public TCustomModule {
public:
    using TCustomModule::TCustomModule;
};

class TDataModule : public TCustomModule {
public:
    using TCustomModule::TCustomModule;
};

class TApplication : public TComponent {
public:
    TApplication() : TComponent(nullptr) {}
    void Initialize() {}

    // Creates a form, assigns it to ref before its components are loaded
    // (so handlers that run during creation can reach it), then finishes
    // its creation.
    template <class T>
    void CreateForm(T*& ref) {
        T* form = new T(this);
        ref = form;
        form->FinishCreation();
    }

    // Frees every form and data module the application owns, last created
    // first. A form freed earlier by other code has left the owner's list,
    // so it is not freed twice.
    void FreeForms();
    // Runs the message loop until Terminate.
    void Run();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    void ProcessMessages();

    bool ShowMainForm = true;
    std::string Title;

private:
    bool terminated_ = false;
};

extern TApplication* Application;
