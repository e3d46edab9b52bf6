#pragma once
// The genre selection page: the index run's report, then the form.
#include <string>

// The index run's report, then the genre selection form.
void WriteGenreSelectionPage();
// "<tr>" row of the genre form: the genre name, HTML-escaped, as label and as
// radio name.
std::string GenreRow(const std::string& genre);
