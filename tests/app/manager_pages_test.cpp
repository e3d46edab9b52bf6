// The operator pages: the password gate, the manager page's rows and the
// report of the server variables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/app_harness.h"

namespace {
constexpr std::size_t RecordSize = 1160;
const char* const FooterStart = "<br><br><br><p><center><font size=-2>Valsetto - ";
const char* const FooterEnd = "</font></center></body></html>";
const char* const PasswordError = "Password Error\r\n";

struct TStoredOptions {
    std::string host, userid, fromaddress, password, errormail, ignoreip, notifyip;
    char diagnostics = 0;
};

void PutString(std::string& bytes, std::size_t at, const std::string& text) {
    bytes[at] = static_cast<char>(text.size());
    bytes.replace(at + 1, text.size(), text);
}

TStoredOptions PasswordOnly(const std::string& password) {
    TStoredOptions o;
    o.password = password;
    return o;
}

std::string Record(const TStoredOptions& o) {
    std::string bytes(RecordSize, '\0');
    PutString(bytes, 0, o.host);
    PutString(bytes, 256, o.userid);
    PutString(bytes, 377, o.fromaddress);
    bytes[633] = o.diagnostics;
    PutString(bytes, 634, o.password);
    PutString(bytes, 660, o.errormail);
    PutString(bytes, 916, o.ignoreip);
    PutString(bytes, 1037, o.notifyip);
    return bytes;
}

std::vector<std::string> Lines(const std::string& body) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = body.find("\r\n", from)) != std::string::npos; from = end + 2)
        lines.push_back(body.substr(from, end - from));
    return lines;
}

bool IsFooter(const std::string& line) {
    return line.rfind(FooterStart, 0) == 0 && line.size() > std::string(FooterEnd).size() &&
           line.compare(line.size() - std::string(FooterEnd).size(), std::string::npos, FooterEnd) == 0;
}

TEST(CheckPassword, GatesTheManagerPage) {
    struct Case {
        const char* stored;
        const char* query;
        bool opens;
    };
    const Case cases[] = {
        {"", "X", true},                          // none stored: always open
        {"", "Xanything", true},
        {"s3cret", "Xs3cret", true},
        {"s3cret", "X--s3cret--", true},          // anywhere after the letter
        {"s3cret", "X", false},
        {"s3cret", "XS3CRET", false},             // exact case
        {"s3cret", "Xs3cre", false},
        {"a b", "X&password=a+b", true},          // the decoded field matches
        {"a b", "X&password=a+c", false},
        {"a b", "X&password=", false},
        {"s3cret", "X&password=s3cret", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " / " + c.query);
        TSite site;
        site.Write("playlist.opt", Record(PasswordOnly(c.stored)));
        const std::vector<std::string> lines = Lines(Serve(site, Get(c.query)).Body());
        ASSERT_FALSE(lines.empty());
        if (c.opens) {
            EXPECT_EQ(lines.front(), "<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">");
        } else {
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0] + "\r\n", PasswordError);
            EXPECT_TRUE(IsFooter(lines[1])) << lines[1];
        }
    }
}

TEST(ManagerPage, ShowsEveryStoredFieldAndLinksWithThePassword) {
    TSite site;
    site.Write("playlist.opt", Record({"mail.test", "op", "from@test", "pw1", "err@test", "10.0.0.9", "10.0.0.8", 0}));
    const std::vector<std::string> lines = Lines(Serve(site, Get("Xpw1")).Body());
    ASSERT_EQ(lines.size(), 21u);
    const std::string target = "http://localhost:8080/audiojs/playlist.cgi";
    EXPECT_EQ(lines[2], "<form action=\"" + target + "\" method=\"post\">");
    EXPECT_EQ(lines[5],
              "<td> Password </td><td><input name=\"password\" maxlength=25 size=60 type=\"text\" "
              "value=\"pw1\"></td></tr>");
    EXPECT_EQ(lines[6],
              "<td> Email Host </td><td><input name=\"host\" maxlength=120 size=60 type=\"text\" "
              "value=\"mail.test\"></td></tr>");
    const char* const values[] = {"op", "from@test", "err@test", "10.0.0.9", "10.0.0.8"};
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(lines[7 + i].find("value=\"" + std::string(values[i]) + "\"></td></tr>"), std::string::npos) << i;
    EXPECT_EQ(lines[16], "<a href=\"" + target + "?Epw1\"> Email Test  </a><br>");
    EXPECT_EQ(lines[17], "<a href=\"" + target + "?Cpw1\"> Full Report </a><br>");
    EXPECT_EQ(lines[18], "Specific Month Log = C + password + \"+\" + MMYY<br>");
    EXPECT_TRUE(IsFooter(lines[20]));
}

TEST(ManagerPage, LongRowsAreCutAt255Characters) {
    struct Case {
        std::size_t hostLength;
        bool cut;
    };
    // The host row is 97 characters besides its value.
    const Case cases[] = {{158, false}, {159, true}, {200, true}, {255, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hostLength);
        TSite site;
        const std::string host(c.hostLength, 'h');
        TStoredOptions stored;
        stored.host = host;
        site.Write("playlist.opt", Record(stored));
        const std::vector<std::string> lines = Lines(Serve(site, Get("X")).Body());
        ASSERT_EQ(lines.size(), 21u);
        const std::string full =
            "<td> Email Host </td><td><input name=\"host\" maxlength=120 size=60 type=\"text\" value=\"" + host +
            "\"></td></tr>";
        EXPECT_EQ(lines[6], c.cut ? full.substr(0, 255) : full);
        EXPECT_EQ(lines[7].rfind("<td> Email UserID </td>", 0), 0u);
    }
}

TEST(ManagerPage, FreshInstallAfterDiagnosticsOffOpensWithEmptyFields) {
    TSite site;
    Serve(site, Get("d"));
    ASSERT_EQ(site.Read("playlist.opt").size(), RecordSize);
    const std::vector<std::string> lines = Lines(Serve(site, Get("X")).Body());
    ASSERT_EQ(lines.size(), 21u);
    for (int i = 5; i <= 11; ++i) EXPECT_NE(lines[i].find("value=\"\"></td></tr>"), std::string::npos) << lines[i];
}

TEST(ManagerForm, SubmittingChangesNothing) {
    TSite site;
    const std::string stored = Record(PasswordOnly("pw"));
    site.Write("playlist.opt", stored);
    TRequest post;
    post.Method = "POST";
    post.Body = "command=manage&password=new&host=elsewhere&diagnostics=off";
    EXPECT_EQ(Serve(site, post).Body(), "");
    EXPECT_EQ(Serve(site, Get("Epw")).Body(), "");
    EXPECT_EQ(site.Read("playlist.opt"), stored);
}

TEST(Report, ListsVariablesIntoPageAndTraceAndRestoresDiagnostics) {
    TSite site;
    const std::string stored = Record(PasswordOnly(""));  // diagnostics off
    site.Write("playlist.opt", stored);
    TRequest request = Get("S");
    request.Extra = {{"HTTP_X_PROBE", "<b>&\"x\""}};
    const std::string body = Serve(site, request).Body();
    const std::vector<std::string> lines = Lines(body);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">");
    EXPECT_EQ(lines[1], "<font size=4> - REPORT -</font><p>");
    EXPECT_TRUE(IsFooter(lines.back()));
    EXPECT_NE(body.find("\r\nREQUEST_METHOD=GET<br>\r\n"), std::string::npos);
    EXPECT_NE(body.find("\r\nREMOTE_HOST=client.test<br>\r\n"), std::string::npos);
    // What the client sent is shown as text, not markup.
    EXPECT_NE(body.find("HTTP_X_PROBE=&lt;b&gt;&amp;&quot;x&quot;<br>"), std::string::npos);

    const std::string trace = site.Read("Tunewright.tst");
    EXPECT_NE(trace.find("REQUEST_METHOD=GET\r\n"), std::string::npos);
    EXPECT_NE(trace.find("HTTP_X_PROBE=<b>&\"x\"\r\n"), std::string::npos);
    EXPECT_NE(trace.rfind("S\r\n", 0), 0u);  // the query came while diagnostics were off
    EXPECT_EQ(static_cast<int>(lines.size()), 3 + static_cast<int>(Lines(trace).size()));
    EXPECT_EQ(site.Read("playlist.opt"), stored);

    Serve(site, Get("Zafter"));
    EXPECT_EQ(site.Read("Tunewright.tst"), trace);
}
}  // namespace
