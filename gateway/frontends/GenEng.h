#pragma once
// The gateway component the application places on its form. It never serves
// a request itself: its constructor creates the concrete front end that fits
// the process (in-process extension, Windows CGI or standard CGI) with the
// same owner, every setting made on it reaches that engine, and for the CGI
// front ends the request starts once the owner has been created.
#include <cstdint>
#include <functional>
#include <string>

#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/Object.h"

// The filter context of the host's extension interface, defined by the
// in-process front end (as a struct of this name).
struct THTTP_FILTER_CONTEXT;

// Events of the in-process front end; parameters passed by reference may be
// changed by the handler. They carry no sender.
using THttpExtensionVersionEvent =
    std::function<void(std::uint32_t& requestVersion, std::string& requestDesc, bool& resultValue)>;
using THttpFilterProcEvent = std::function<void(THTTP_FILTER_CONTEXT& pfc, std::int32_t notificationType,
                                                void* pvNotification, std::int32_t& resultValue)>;
using THttpFilterVersionEvent =
    std::function<void(std::int32_t& serverFilterVersion, std::int32_t& filterVersion, std::string& filterDesc,
                       std::int32_t& flags, bool& resultValue)>;

// What the in-process front end offers the selection: its three events. The
// in-process engine derives from THttpEngine and from this interface.
class TIsapiEventTarget {
public:
    virtual ~TIsapiEventTarget() = default;
    virtual void SetOnIsapiExtensionVersion(THttpExtensionVersionEvent handler) = 0;
    virtual void SetOnIsapiFilterProc(THttpFilterProcEvent handler) = 0;
    virtual void SetOnIsapiFilterVersion(THttpFilterVersionEvent handler) = 0;
};

// Creates the in-process front end with the given owner; the result derives
// from THttpEngine and TIsapiEventTarget. Set by the in-process front end when
// the library is loaded, before any form is created.
using TCreateIsapiEngineHook = THttpEngine* (*)(TComponent* owner);
extern TCreateIsapiEngineHook CreateIsapiEngineHook;

// The concrete engines of the process; at most one is set. Owned by the
// owner of the general component that created them.
extern THttpCGIEngine* ConcreteCgiEngine;
extern THttpEngine* ConcreteIsapiEngine;

// Start-up routine of the selecting unit; the last of the gateway units.
void GenEngStartup();

class TGeneralHttpEngine : public THttpEngine {
public:
    // Creates the concrete front end (unless at design time). Raises
    // Exception inside a host server when no in-process front end is
    // registered.
    explicit TGeneralHttpEngine(TComponent* owner);
    ~TGeneralHttpEngine() override;

    void Loaded() override;
    // Forwards to the thread's CurrentEngine when that is another engine.
    void Shutdown() override;
    // The general component writes nothing.
    void SendHeaderLine(const std::string& name, const std::string& value) override;
    void EndHeaderBlock() override;

    // Sets every setting of this component on target through target's own
    // setters (CGIAutoTerminate directly), in a fixed order.
    void CopyEngineSettings(THttpEngine* target);
    // The concrete CGI front end's own request, with this component's settings.
    void RunDeferred();

    bool CGIAutoTerminate() const { return cgiAutoTerminate_; }
    void SetCGIAutoTerminate(bool value);

    const THttpExtensionVersionEvent& OnIsapiExtensionVersion() const { return onIsapiExtensionVersion_; }
    const THttpFilterProcEvent& OnIsapiFilterProc() const { return onIsapiFilterProc_; }
    const THttpFilterVersionEvent& OnIsapiFilterVersion() const { return onIsapiFilterVersion_; }
    void SetOnIsapiExtensionVersion(THttpExtensionVersionEvent handler);
    void SetOnIsapiFilterProc(THttpFilterProcEvent handler);
    void SetOnIsapiFilterVersion(THttpFilterVersionEvent handler);

private:
    TIsapiEventTarget* IsapiTarget() const;

    bool cgiAutoTerminate_ = true;
    TOwnerCreateHook ownerHook_;
    // The concrete engine this component made; freed here only when it has
    // no owner to free it.
    THttpEngine* concrete_ = nullptr;
    bool ownsConcrete_ = false;
    THttpExtensionVersionEvent onIsapiExtensionVersion_;
    THttpFilterProcEvent onIsapiFilterProc_;
    THttpFilterVersionEvent onIsapiFilterVersion_;
};
