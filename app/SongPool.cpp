#include "app/SongPool.h"

#include <unordered_map>

#include "platform/Random.h"

namespace {
constexpr std::size_t MaxItemLength = 20000;
}  // namespace

TSongPool::TSongPool(std::vector<std::string> songlist) {
    for (auto& entry : songlist) {
        const std::string_view head = std::string_view(entry).substr(0, entry.find('|'));
        auto group = groups_.find(head);
        if (group == groups_.end()) group = groups_.emplace(std::string(head), TGroup{}).first;
        group->second.Entries.push_back(std::move(entry));
    }
    for (auto& [head, group] : groups_) group.Build();
    count_ = static_cast<int>(songlist.size());
}

// Equal entries (a genre chosen twice lists its songs twice) share a value;
// every entry starts present, so each tree node counts its whole span.
void TSongPool::TGroup::Build() {
    const int n = static_cast<int>(Entries.size());
    Tree.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int i = 1; i <= n; ++i) Tree[static_cast<std::size_t>(i)] = i & -i;
    std::unordered_map<std::string_view, int> values;
    ValueOf.reserve(Entries.size());
    for (int i = 0; i < n; ++i) {
        const auto [at, added] = values.try_emplace(Entries[static_cast<std::size_t>(i)], static_cast<int>(Positions.size()));
        if (added) Positions.emplace_back();
        Positions[static_cast<std::size_t>(at->second)].push_back(i);
        ValueOf.push_back(at->second);
    }
    Left = n;
}

int TSongPool::TGroup::Select(int k) const {
    const int n = static_cast<int>(Entries.size());
    int step = 1;
    while (step * 2 <= n) step *= 2;
    int position = 0;
    int remaining = k + 1;
    for (; step > 0; step /= 2) {
        const int next = position + step;
        if (next <= n && Tree[static_cast<std::size_t>(next)] < remaining) {
            position = next;
            remaining -= Tree[static_cast<std::size_t>(next)];
        }
    }
    return position;
}

void TSongPool::TGroup::Remove(int position) {
    for (int i = position + 1; i < static_cast<int>(Tree.size()); i += i & -i) --Tree[static_cast<std::size_t>(i)];
    --Left;
}

// Of the entries equal to the chosen one, the last still there goes. Removals
// always take the last of a value, so a value's entries still there are a
// prefix of its list and the last is at its end.
std::string TSongPool::PickSong(const std::string& genre) {
    const auto found = groups_.find(genre);
    if (found == groups_.end() || found->second.Left == 0) return {};
    TGroup& group = found->second;
    const int chosen = group.Select(static_cast<int>(NextRandom(static_cast<std::uint32_t>(group.Left))));
    auto& same = group.Positions[static_cast<std::size_t>(group.ValueOf[static_cast<std::size_t>(chosen)])];
    group.Remove(same.back());
    same.pop_back();
    --count_;
    const std::string& entry = group.Entries[static_cast<std::size_t>(chosen)];
    const auto bar = entry.find('|');
    return bar == std::string::npos ? std::string() : entry.substr(bar + 1, MaxItemLength);
}

std::string PickSong(const std::string& genre, TSongPool& songlist) { return songlist.PickSong(genre); }
