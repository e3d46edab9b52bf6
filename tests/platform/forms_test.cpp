#include "platform/Forms.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {
std::vector<std::string> g_events;

class TProbe : public TComponent {
public:
    TProbe(TComponent* owner, std::string name) : TComponent(owner) {
        Name = std::move(name);
        ComponentState |= csLoading;
    }
    ~TProbe() override { g_events.push_back("free " + Name); }
    void Loaded() override {
        TComponent::Loaded();
        g_events.push_back("loaded " + Name);
    }
};

class TProbeForm;
TProbeForm* g_form = nullptr;

class TProbeForm : public TForm {
public:
    explicit TProbeForm(TComponent* owner) : TForm(owner) {
        Name = "form";
        new TProbe(this, "engine");
        new TProbe(this, "smtp");
        new TProbe(this, "udp");
        OnCreate = [this](TObject* sender) {
            g_events.push_back(std::string("create ") + (sender == this ? "self" : "other") +
                               (g_form == this ? " ref set" : " ref unset"));
        };
    }
    ~TProbeForm() override { g_events.push_back("free form"); }
    void Loaded() override {
        TForm::Loaded();
        g_events.push_back(std::string("loaded form") + (g_form == this ? " ref set" : " ref unset"));
    }
};

class TProbeModule : public TDataModule {
public:
    explicit TProbeModule(TComponent* owner) : TDataModule(owner) { Name = "module"; }
    ~TProbeModule() override { g_events.push_back("free " + Name); }
};

// Two probe modules created through the application, in this order.
std::pair<TProbeModule*, TProbeModule*> CreateTwoModules(TApplication& app) {
    TProbeModule* first = nullptr;
    TProbeModule* second = nullptr;
    app.CreateForm(first);
    app.CreateForm(second);
    return {first, second};
}
}  // namespace

TEST(TComponent, OwnerFreesOwnedLastCreatedFirst) {
    g_events.clear();
    auto* owner = new TProbe(nullptr, "owner");
    new TProbe(owner, "a");
    auto* b = new TProbe(owner, "b");
    new TProbe(b, "b1");
    new TProbe(owner, "c");
    delete owner;
    EXPECT_EQ(g_events, (std::vector<std::string>{"free owner", "free c", "free b", "free b1", "free a"}));
}

TEST(TComponent, FreedComponentLeavesItsOwner) {
    g_events.clear();
    TProbe owner(nullptr, "owner");
    auto* a = new TProbe(&owner, "a");
    new TProbe(&owner, "b");
    delete a;
    ASSERT_EQ(owner.Components().size(), 1u);
    EXPECT_EQ(owner.Components()[0]->Name, "b");
}

TEST(TCustomModule, FinishCreationLoadsInCreationOrderThenFiresOnCreate) {
    g_events.clear();
    g_form = nullptr;
    TApplication app;
    app.CreateForm(g_form);
    EXPECT_EQ(g_events, (std::vector<std::string>{"loaded engine", "loaded smtp", "loaded udp",
                                                  "loaded form ref set", "create self ref set"}));
    for (TComponent* component : g_form->Components()) EXPECT_EQ(component->ComponentState & csLoading, 0);
    g_events.clear();
    app.FreeForms();
    EXPECT_EQ(g_events, (std::vector<std::string>{"free form", "free udp", "free smtp", "free engine"}));
    EXPECT_TRUE(app.Components().empty());
}

TEST(TApplication, FreeFormsFreesLastCreatedFirst) {
    g_events.clear();
    TApplication app;
    TProbeModule* second = CreateTwoModules(app).second;
    second->Name = "second";
    g_events.clear();
    app.FreeForms();
    EXPECT_EQ(g_events, (std::vector<std::string>{"free second", "free module"}));
    EXPECT_TRUE(app.Components().empty());
}

// Regression: FreeForms kept its own list of forms, so a form freed earlier
// by other code was freed a second time.
TEST(TApplication, FormFreedEarlierIsNotFreedTwice) {
    g_events.clear();
    TApplication app;
    TProbeModule* gone = CreateTwoModules(app).second;
    delete gone;
    g_events.clear();
    app.FreeForms();
    EXPECT_EQ(g_events, std::vector<std::string>{"free module"});
}
