#include "app/ManagerPages.h"

#include "app/OnlineUnit.h"
#include "app/Options.h"
#include "app/PageChrome.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/UrlEncoded.h"
#include "gateway/frontends/GenEng.h"

namespace {
// Rows longer than this are cut, value and closing tags alike.
constexpr std::size_t MaxManagerRow = 255;
const char* const PageStart = "<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">";

void StartHtmlResponse() { Mainform->GeneralHttpEngine1->SetAutoContentType(PageContentType); }

// A text row of the options table; the stored value goes in as it is.
void WriteOptionRow(const std::string& label, const std::string& name, int maxLength, const std::string& value) {
    std::string row = "<td> " + label + " </td><td><input name=\"" + name + "\" maxlength=" +
                      std::to_string(maxLength) + " size=60 type=\"text\" value=\"" + value + "\"></td></tr>";
    if (row.size() > MaxManagerRow) row.resize(MaxManagerRow);
    HttpWrite(row);
}

void WriteOptionRows() {
    WriteOptionRow("Password", "password", 25, Options.password.Value());
    WriteOptionRow("Email Host", "host", 120, Options.host.Value());
    WriteOptionRow("Email UserID", "userid", 120, Options.userid.Value());
    WriteOptionRow("Email From Address", "fromaddress", 120, Options.fromaddress.Value());
    WriteOptionRow("Error Email to:", "errormail", 120, Options.errormail.Value());
    WriteOptionRow("Ignore This IP:", "ignoreip", 120, Options.ignoreip.Value());
    WriteOptionRow("Notify IP:", "notifyip", 120, Options.notifyip.Value());
}

void WriteToggleAnswer(const char* subject, bool on) {
    HttpWrite(subject);
    HttpWrite(on ? "ON" : "OFF");
}
}  // namespace

bool CheckPassword() {
    const std::string pw = Options.password.Value();
    if (!pw.empty() && QueryText.find(pw) != std::string::npos) return true;
    if (pw.empty()) return true;
    if (HttpFieldValue("password", "") == pw) return true;
    HttpWrite("Password Error");
    WriteFooter();
    return false;
}

void ShowManagerPage() {
    if (!CheckPassword()) return;
    const std::string target = FormTarget();
    StartHtmlResponse();
    const std::string password = Options.password.Value();
    HttpWrite(PageStart);
    HttpWrite("<center><font size=4> - Kestrine2 Logger Manager - Rev 1.0</font><p>");
    HttpWrite("<form action=\"" + target + "\" method=\"post\">");
    HttpWrite("<input name=\"command\" type=\"hidden\" value=\"manage\">");
    HttpWrite("<table border=1><tr>");
    WriteOptionRows();
    HttpWrite("<tr><td> Logging Mode </td><td><input type=\"radio\" name=\"logging\" value=\"off\"></td></tr>");
    HttpWrite("<tr><td> Diagnostic Mode </td><td><input type=\"radio\" name=\"diagnostics\" value=\"off\"></td></tr>");
    HttpWrite("</table><input value=\"Submit\" type=\"submit\">  <input type=reset></form>");
    HttpWrite("<br><br>");
    HttpWrite("<a href=\"" + target + "?E" + password + "\"> Email Test  </a><br>");
    HttpWrite("<a href=\"" + target + "?C" + password + "\"> Full Report </a><br>");
    HttpWrite("Specific Month Log = C + password + \"+\" + MMYY<br>");
    HttpWrite("</center>");
    WriteFooter();
}

// Diagnostics are forced on for the listing so every entry reaches the
// trace; the saved flag is restored even when a write fails.
void ShowReport() {
    const std::uint8_t remembered = Options.diagnostics;
    Options.diagnostics = 1;
    try {
        StartHtmlResponse();
        HttpWrite(PageStart);
        HttpWrite("<font size=4> - REPORT -</font><p>");
        for (const std::string& entry : Mainform->GeneralHttpEngine1->ServerVariables().Lines()) {
            // What the client sent (query string, headers) is shown as
            // text, never run as part of the page.
            HttpWrite(HtmlEscape(entry) + "<br>");
            WriteTrace(entry);
        }
        WriteFooter();
    } catch (...) {
        Options.diagnostics = remembered;
        throw;
    }
    Options.diagnostics = remembered;
}

void SetDiagnostics(bool on) {
    Options.diagnostics = on ? 1 : 0;
    SaveOptions();
    WriteToggleAnswer("Diagnostics are:", on);
}

void SetLogRecording(bool on) {
    Options.logging = on ? 1 : 0;
    SaveOptions();
    WriteToggleAnswer("Log Recording is:", on);
}
