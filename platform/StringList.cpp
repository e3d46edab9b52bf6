#include "platform/StringList.h"

#include <algorithm>

#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

int TStringList::FindSorted(std::string_view text, bool& found) const {
    int lo = 0;
    int hi = Count() - 1;
    found = false;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = CompareText(lines_[static_cast<std::size_t>(mid)], text);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) found = true;
        }
    }
    return lo;
}

int TStringList::Add(std::string_view line) {
    if (!Sorted) {
        lines_.emplace_back(line);
        return Count() - 1;
    }
    bool found = false;
    int at = FindSorted(line, found);
    if (found && Duplicates == TDuplicates::dupIgnore) return at;
    lines_.insert(lines_.begin() + at, std::string(line));
    return at;
}

void TStringList::Insert(int index, std::string_view line) {
    if (index < 0 || index > Count()) throw Exception("List index out of bounds (" + IntToStr(index) + ")");
    lines_.insert(lines_.begin() + index, std::string(line));
}

void TStringList::Put(int index, std::string_view line) {
    lines_.at(static_cast<std::size_t>(index)) = std::string(line);
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + IntToStr(index) + ")");
    lines_.erase(lines_.begin() + index);
}

void TStringList::Merge(std::vector<int> deleted, std::vector<std::string> added) {
    std::sort(deleted.begin(), deleted.end());
    for (const int index : deleted)
        if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + IntToStr(index) + ")");
    std::vector<std::string> kept;
    kept.reserve(lines_.size() - deleted.size() + added.size());
    for (std::size_t i = 0, d = 0; i < lines_.size(); ++i) {
        while (d < deleted.size() && static_cast<std::size_t>(deleted[d]) < i) ++d;
        if (d < deleted.size() && static_cast<std::size_t>(deleted[d]) == i) continue;
        kept.push_back(std::move(lines_[i]));
    }
    if (!Sorted) {
        for (auto& line : added) kept.push_back(std::move(line));
        lines_ = std::move(kept);
        return;
    }
    // Add puts a line before the equal lines present (dupAccept) or drops it
    // (dupIgnore). The added lines are sorted once, stably, and merged with
    // the kept ones, which are in order already.
    const bool accept = Duplicates == TDuplicates::dupAccept;
    if (accept) std::reverse(added.begin(), added.end());
    const auto less = [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; };
    if (!std::is_sorted(added.begin(), added.end(), less)) std::stable_sort(added.begin(), added.end(), less);
    if (kept.empty()) {
        if (!accept)
            added.erase(std::unique(added.begin(), added.end(),
                                    [](const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }),
                        added.end());
        lines_ = std::move(added);
        return;
    }
    lines_.clear();
    lines_.reserve(kept.size() + added.size());
    std::size_t k = 0;
    for (auto& line : added) {
        while (k < kept.size() && (accept ? less(kept[k], line) : !less(line, kept[k]))) lines_.push_back(std::move(kept[k++]));
        if (!accept && !lines_.empty() && CompareText(lines_.back(), line) == 0) continue;
        lines_.push_back(std::move(line));
    }
    while (k < kept.size()) lines_.push_back(std::move(kept[k++]));
}

void TStringList::Assign(const TStringList& other) {
    lines_ = other.lines_;
    if (Sorted) Sort();
}

void TStringList::Sort() {
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
}

int TStringList::IndexOf(std::string_view text) const {
    if (Sorted) {
        bool found = false;
        int at = FindSorted(text, found);
        return found ? at : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (SameText(lines_[static_cast<std::size_t>(i)], text)) return i;
    return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = lines_[static_cast<std::size_t>(i)];
        auto eq = line.find('=');
        if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name)) return i;
    }
    return -1;
}

std::string TStringList::Names(int index) const {
    const std::string& line = (*this)[index];
    auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = (*this)[index];
    auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line = std::string(name) + "=" + std::string(value);
    if (i < 0) {
        Add(line);
    } else if (Sorted) {
        Delete(i);
        Add(line);
    } else {
        Put(i, line);
    }
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(std::string_view text) {
    lines_.clear();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            Add(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < text.size()) Add(text.substr(start));
}

void TStringList::LoadFromFile(const std::string& fileName) {
    std::string content;
    if (!ReadWholeFile(fileName, content)) throw EFileError("Cannot open file \"" + fileName + "\"");
    SetText(content);
}

void TStringList::SaveToFile(const std::string& fileName) const {
    if (!WriteWholeFile(fileName, Text())) throw EFileError("Cannot create file \"" + fileName + "\"");
}
