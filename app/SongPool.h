#pragma once
// The pool a playlist is drawn from.
#include <functional>
#include <map>
#include <string>
#include <vector>

// The songs of the chosen genres, as entries "genre|item", grouped by the
// text before the first "|". A draw picks the k-th entry still in its group
// in song-list order and removes the last entry equal to it, as a scan of
// the whole song list would; a counting tree over each group's positions
// finds that entry in logarithmic time, so the playlist for a seed is the
// one the full scan gives at a fraction of its cost.
class TSongPool {
public:
    explicit TSongPool(std::vector<std::string> songlist);
    int Count() const { return count_; }
    // Removes one random entry of genre and returns its item; empty, and no
    // draw, when the genre has no entries left.
    std::string PickSong(const std::string& genre);

private:
    struct TGroup {
        std::vector<std::string> Entries;          // in song-list order
        std::vector<int> Tree;                      // 1-based counts of entries still there
        std::vector<int> ValueOf;                   // per entry: its value's index
        std::vector<std::vector<int>> Positions;    // per value: its entries still there, ascending
        int Left = 0;
        void Build();
        int Select(int k) const;                    // position of the k-th entry still there
        void Remove(int position);
    };
    std::map<std::string, TGroup, std::less<>> groups_;
    int count_ = 0;
};
std::string PickSong(const std::string& genre, TSongPool& songlist);
