#include "tests/app/music_test_request.h"

#include <cstdio>

#include "gateway/engine/HttpEng.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/engine/RequestContext.h"
#include "platform/Streams.h"
#include "tests/support/Streams.h"

namespace {
class TTestEngine : public THttpEngine {
public:
    TTestEngine() : THttpEngine(nullptr) {}
    void SendHeaderLine(const std::string&, const std::string&) override {}
    void EndHeaderBlock() override { ++HeaderBlocks; }
    int HeaderBlocks = 0;
};

std::string Encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string FormBody(const std::vector<std::string>& fields) {
    std::string body;
    for (const auto& field : fields) {
        const auto equals = field.find('=');
        if (!body.empty()) body += "&";
        body += Encode(field.substr(0, equals)) + "=" + Encode(field.substr(equals + 1));
    }
    return body;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}
}  // namespace

TPage RunRequest(const std::vector<std::string>& fields, const std::vector<std::string>& variables,
                 const std::function<void()>& action) {
    const std::string body = FormBody(fields);
    auto* input = new TMemoryStream;
    input->WriteString(body);
    input->SetPosition(0);
    auto* list = new TStringList;
    list->Add("REQUEST_METHOD=POST");
    list->Add("CONTENT_TYPE=application/x-www-form-urlencoded");
    list->Add("CONTENT_LENGTH=" + std::to_string(body.size()));
    for (const auto& variable : variables) list->Add(variable);

    TPage page;
    auto output = std::make_shared<support::TWrites>();
    TTestEngine engine;
    engine.DebugMode = NoDebug;
    engine.OnExecRequest = [&](TObject*) {
        CurrentHttpEngine()->SetAutoContentType("text/plain");
        try {
            action();
        } catch (const std::exception& e) {
            page.Error = e.what();
            if (RequestContext.OutputBuffer) page.BeforeError = SplitCrLf(RequestContext.OutputBuffer->DataString());
            page.ContentType = RequestContext.ContentType.value_or(CurrentHttpEngine()->AutoContentType);
            throw;
        }
        page.ContentType = RequestContext.ContentType.value_or(CurrentHttpEngine()->AutoContentType);
        page.HeaderSends = engine.HeaderBlocks;
    };
    engine.ProcessRequest(input, new support::TSinkStream(output), list);
    // The console front end finishes its request after serving it.
    if (ConsoleFinishesRequest()) engine.FinishRequest();
    page.Lines = SplitCrLf(output->All());
    return page;
}
