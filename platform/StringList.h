#pragma once
// Ordered list of 8-bit lines with optional case-insensitive sorting and
// NAME=value access, the shape every list of the program takes (server
// variables, form fields, pending headers, text files read whole).
#include <string>
#include <string_view>
#include <vector>

#include "platform/Object.h"

enum class TDuplicates { dupIgnore, dupAccept };

class TStringList : public TObject {
public:
    explicit TStringList(bool sorted = false) : Sorted(sorted) {}

    // A sorted list keeps its lines in CompareText order; with dupIgnore a
    // line equal (ignoring case) to one present is not added again.
    bool Sorted;
    TDuplicates Duplicates = TDuplicates::dupIgnore;

    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }
    const std::string& operator[](int index) const { return lines_.at(static_cast<std::size_t>(index)); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Returns the index of the line, or of the equal line already present.
    int Add(std::string_view line);
    void Insert(int index, std::string_view line);
    void Put(int index, std::string_view line);
    void Delete(int index);
    // Deletes the lines at the given indices, then adds the given lines: the
    // list ends as after one Delete per index and one Add per line in order,
    // at the cost of one sort instead of one insert per line.
    void Merge(std::vector<int> deleted, std::vector<std::string> added);
    void Clear() { lines_.clear(); }
    void Assign(const TStringList& other);
    void Sort();

    // Index of the line equal to text ignoring case, or -1.
    int IndexOf(std::string_view text) const;
    // Index of the first line whose text before its first "=" equals name
    // ignoring case, or -1.
    int IndexOfName(std::string_view name) const;
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;
    // Value of the first line named name; empty when absent.
    std::string Values(std::string_view name) const;
    // Replaces the value of the named line, adds the line when absent, and
    // deletes it when value is empty.
    void SetValue(std::string_view name, std::string_view value);

    // Every line followed by CR LF.
    std::string Text() const;
    // Replaces the content with text split at CR, LF or CR LF.
    void SetText(std::string_view text);

    // Loads a text file (any line ends) or saves it with CR LF; raise
    // EFileError when the file cannot be read or written.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

private:
    int FindSorted(std::string_view text, bool& found) const;
    std::vector<std::string> lines_;
};
