// Counted intrusive doubly linked chains. The links live inside the objects
// they chain; a chain never creates, owns or deletes its links.
#pragma once

#include <cstdint>

#include "kvexport.h"

class ChainRaw;

class FEXROL_API Link {
public:
    Link() : _chain(nullptr), _next(nullptr), _prev(nullptr) {}
    // Appends itself at the tail of pcn (not null).
    explicit Link(ChainRaw* pcn);
    virtual ~Link();

    // A member-by-member copy would corrupt both chains.
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ChainRaw* chain() const { return _chain; }

protected:
    friend class ChainRaw;
    ChainRaw* _chain;
    Link* _next;
    Link* _prev;
};

struct ChainIterator {
    Link* _pliCur;
    int32_t _fTH;  // 0 walks head to tail, otherwise tail to head
};

class FEXROL_API ChainRaw {
public:
    ChainRaw() : _head(nullptr), _tail(nullptr), _c(0) {}
    // Takes over every link of pcn, in order.
    explicit ChainRaw(ChainRaw* pcn);
    ~ChainRaw();

    ChainRaw(const ChainRaw&) = delete;
    ChainRaw& operator=(const ChainRaw&) = delete;

    Link* put(Link* l, Link* nel);
    Link* remove(Link* l);
    Link* push(Link* l);
    Link* pull() { return remove(_head); }
    Link* pop() { return remove(_tail); }
    Link* import(Link* l);
    void import(ChainRaw* pcn);

    Link* head() const { return _head; }
    Link* tail() const { return _tail; }
    uint32_t count() const { return _c; }
    uint32_t c() const { return _c; }

    ChainIterator* start_iter(ChainIterator* pit) const;
    ChainIterator* strtIter(ChainIterator* pit) const { return start_iter(pit); }
    Link* iterate(ChainIterator* pit) const;
    Link* iter(ChainIterator* pit) const { return iterate(pit); }
    Link* peek(ChainIterator* pit) const { return pit->_pliCur; }

    int get(Link** ppl, int c);
    Link* get(int iPos) const;
    int pos(const Link* pln) const;

private:
    Link* _head;
    Link* _tail;
    uint32_t _c;
};

// The light list: no owner pointer and no count. Nothing in the system uses it.
class FEXROL_API LiLink {
public:
    LiLink() : _pllNext(nullptr), _pllPrev(nullptr) {}
    ~LiLink();

    LiLink(const LiLink&) = delete;
    LiLink& operator=(const LiLink&) = delete;

    LiLink* append(LiLink* pllNew);
    LiLink* insert(LiLink* pllNew);
    LiLink* remove();

    bool isIsol() const { return _pllNext == nullptr && _pllPrev == nullptr; }
    LiLink* pllNext() const { return _pllNext; }
    LiLink* pllPrev() const { return _pllPrev; }

    LiLink* _pllNext;
    LiLink* _pllPrev;
};

class FEXROL_API LiChain {
public:
    LiChain() : _pllHead(nullptr), _pllTail(nullptr) {}

    LiLink* appendTail(LiLink* pll);
    LiLink* remove(LiLink* pll);
    LiLink* removeHead();

    LiLink* _pllHead;
    LiLink* _pllTail;
};

class FEXROL_API LiLiPl : public LiLink {
public:
    explicit LiLiPl(void* p);
    void* pv() const { return _pv; }

    void* _pv;
};
