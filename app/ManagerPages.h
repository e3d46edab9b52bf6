#pragma once
// The operator functions: the password-gated manager page, the report of the
// request's server variables and the two option toggles.

// The manager page's gate: passes when the stored password occurs in
// QueryText, when none is stored, or when the field "password" equals it;
// otherwise writes "Password Error" and the footer and fails.
bool CheckPassword();
void ShowManagerPage();
void ShowReport();
void SetDiagnostics(bool on);
void SetLogRecording(bool on);
