// A record of the last entries: a ring of a set capacity that counts every
// entry pushed, kept or not. Once full, a new entry takes the oldest one's
// slot; assigning into a slot reuses what it holds (a string's or vector's
// storage), so a full ring records without allocating. Capacity 0 keeps
// nothing and only counts. Not thread-safe: its owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kvring {

// What a log keeps unless its owner is told otherwise.
constexpr std::size_t kDefaultCapacity = 4096;

template <class T>
class Ring {
public:
    explicit Ring(std::size_t capacity) : _cap(capacity) {}

    std::size_t capacity() const { return _cap; }
    // Keeps the newest entries that fit.
    void setCapacity(std::size_t capacity)
    {
        if (capacity == _cap)
            return;
        std::vector<T> kept;
        std::size_t n = size() < capacity ? size() : capacity;
        kept.reserve(n);
        for (std::size_t i = size() - n; i < size(); ++i)
            kept.push_back(std::move((*this)[i]));
        _dropped += size() - n;
        _buf.swap(kept);
        _head = 0;
        _cap = capacity;
    }

    std::size_t size() const { return _buf.size(); }
    bool empty() const { return _buf.empty(); }
    uint64_t total() const { return _total; }        // entries pushed since the start
    uint64_t dropped() const { return _dropped; }    // entries not kept (cleared ones aside)
    uint64_t firstSeq() const { return _total - _buf.size(); }  // sequence number of (*this)[0]

    // The slot of a new entry, to be overwritten whole: an old entry's once
    // the ring is full, a default one while it grows, a scratch one when it
    // keeps nothing. *pseq gets the entry's sequence number.
    T& pushSlot(uint64_t* pseq = nullptr)
    {
        if (pseq)
            *pseq = _total;
        ++_total;
        if (_cap == 0) {
            ++_dropped;
            return _scratch;
        }
        if (_buf.size() < _cap) {
            _buf.emplace_back();
            return _buf.back();
        }
        ++_dropped;
        T& slot = _buf[_head];
        _head = _head + 1 == _cap ? 0 : _head + 1;
        return slot;
    }
    uint64_t push_back(const T& v)
    {
        uint64_t seq;
        pushSlot(&seq) = v;
        return seq;
    }
    uint64_t push_back(T&& v)
    {
        uint64_t seq;
        pushSlot(&seq) = std::move(v);
        return seq;
    }

    // The entry of a sequence number; null when it is no longer kept. The
    // newest entry stays reachable until the next push even when the ring
    // keeps nothing.
    T* find(uint64_t seq)
    {
        if (_cap == 0 && _total > 0 && seq == _total - 1)
            return &_scratch;
        if (seq < firstSeq() || seq >= _total)
            return nullptr;
        return &(*this)[std::size_t(seq - firstSeq())];
    }

    // Kept entries, oldest first.
    T& operator[](std::size_t i) { return _buf[index(i)]; }
    const T& operator[](std::size_t i) const { return _buf[index(i)]; }
    T& back() { return (*this)[size() - 1]; }
    const T& back() const { return (*this)[size() - 1]; }

    // Forgets the kept entries; the counts go on.
    void clear()
    {
        _buf.clear();
        _head = 0;
    }

    std::vector<T> toVector() const
    {
        std::vector<T> r;
        r.reserve(size());
        for (std::size_t i = 0; i < size(); ++i)
            r.push_back((*this)[i]);
        return r;
    }

    class const_iterator {
    public:
        const_iterator(const Ring* pr, std::size_t i) : _pr(pr), _i(i) {}
        const T& operator*() const { return (*_pr)[_i]; }
        const T* operator->() const { return &(*_pr)[_i]; }
        const_iterator& operator++()
        {
            ++_i;
            return *this;
        }
        bool operator!=(const const_iterator& o) const { return _i != o._i; }
        bool operator==(const const_iterator& o) const { return _i == o._i; }

    private:
        const Ring* _pr;
        std::size_t _i;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

private:
    std::size_t index(std::size_t i) const
    {
        std::size_t k = _head + i;
        return k >= _buf.size() ? k - _buf.size() : k;
    }

    std::size_t _cap;
    std::vector<T> _buf;
    std::size_t _head = 0;  // slot of the oldest entry once full
    uint64_t _total = 0, _dropped = 0;
    T _scratch{};
};

// The first entries up to a limit, and a count of all: for what must never
// go unnoticed (problems, errors), where the first ones tell most.
template <class T>
class FirstKept {
public:
    explicit FirstKept(std::size_t limit) : _limit(limit) {}

    void push_back(T v)
    {
        if (_kept.size() < _limit)
            _kept.push_back(std::move(v));
        ++_total;
    }
    std::size_t size() const { return _kept.size(); }  // kept
    bool empty() const { return _total == 0; }
    uint64_t total() const { return _total; }           // all, kept or not
    uint64_t notKept() const { return _total - _kept.size(); }
    void clear()
    {
        _kept.clear();
        _total = 0;
    }
    const std::vector<T>& kept() const { return _kept; }

private:
    std::size_t _limit;
    std::vector<T> _kept;
    uint64_t _total = 0;
};

}  // namespace kvring
