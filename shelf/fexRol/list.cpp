#include "list.h"

#include "fexassert.h"

static const char szSrc[] = "list";

Link::Link(ChainRaw* pcn) : _chain(nullptr), _next(nullptr), _prev(nullptr)
{
    FEX_ASSERT(pcn, "pcn != 0 (Link needs a chain)", szSrc, 30);
    pcn->push(this);
}

Link::~Link()
{
    if (_chain)
        _chain->remove(this);
}

ChainRaw::ChainRaw(ChainRaw* pcn) : _head(nullptr), _tail(nullptr), _c(0)
{
    FEX_ASSERT(pcn, "pcn != 0 (chain to take over)", szSrc, 45);
    import(pcn);
}

ChainRaw::~ChainRaw()
{
    FEX_ASSERT(_c == 0, "_c==0", szSrc, 50);
}

Link* ChainRaw::remove(Link* l)
{
    if (!l)
        return nullptr;
    FEX_ASSERT(_c, "_c", szSrc, 73);
    FEX_ASSERT(l->_chain == this, "l->_chain==this", szSrc, 74);
    if (l->_next)
        l->_next->_prev = l->_prev;
    else
        _tail = l->_prev;
    if (l->_prev)
        l->_prev->_next = l->_next;
    else
        _head = l->_next;
    l->_chain = nullptr;
    l->_next = nullptr;
    l->_prev = nullptr;
    --_c;
    return l;
}

Link* ChainRaw::put(Link* l, Link* nel)
{
    FEX_ASSERT(nel, "nel != 0 (link to insert)", szSrc, 88);
    FEX_ASSERT(!l || l->_chain == this, "l->_chain == this", szSrc, 91);
    if (nel->_chain)
        return nullptr;
    nel->_chain = this;
    if (l) {
        if (l->_next)
            l->_next->_prev = nel;
        else
            _tail = nel;
        nel->_next = l->_next;
        l->_next = nel;
        nel->_prev = l;
    } else {
        nel->_prev = nullptr;
        nel->_next = _head;
        if (_head)
            _head->_prev = nel;
        else
            _tail = nel;
        _head = nel;
    }
    ++_c;
    return nel;
}

Link* ChainRaw::push(Link* l)
{
    FEX_ASSERT(l, "l != 0 (link to push)", szSrc, 118);
    return put(_tail, l);
}

Link* ChainRaw::import(Link* l)
{
    FEX_ASSERT(l, "l != 0 (link to import)", szSrc, 124);
    if (l->_chain)
        l->_chain->remove(l);
    return push(l);
}

void ChainRaw::import(ChainRaw* pcn)
{
    FEX_ASSERT(pcn, "pcn != 0 (chain to import)", szSrc, 132);
    // Importing a chain into itself would pull and push its head for ever.
    if (pcn == this)
        return;
    while (Link* l = pcn->pull())
        push(l);
}

ChainIterator* ChainRaw::start_iter(ChainIterator* pit) const
{
    pit->_pliCur = _head;
    pit->_fTH = 0;
    return pit;
}

Link* ChainRaw::iterate(ChainIterator* pit) const
{
    Link* l = pit->_pliCur;
    if (l)
        pit->_pliCur = pit->_fTH ? l->_prev : l->_next;
    return l;
}

int ChainRaw::get(Link** ppl, int c)
{
    int k = 0;
    for (Link* l = _head; l && k < c; l = l->_next)
        ppl[k++] = l;
    return k;
}

Link* ChainRaw::get(int iPos) const
{
    Link* l = _head;
    for (int k = 0; l && k < iPos; ++k)
        l = l->_next;
    return l;
}

int ChainRaw::pos(const Link* pln) const
{
    int k = 0;
    for (const Link* l = _head; l; l = l->_next, ++k)
        if (l == pln)
            return k;
    return -1;
}

LiLink::~LiLink()
{
    FEX_ASSERT(_pllNext == nullptr && _pllPrev == nullptr, "_pllNext == 0 && _pllPrev == 0", szSrc, 201);
}

LiLink* LiLink::append(LiLink* pllNew)
{
    FEX_ASSERT(pllNew->_pllNext == nullptr && pllNew->_pllPrev == nullptr,
               "pllNew->_pllNext == 0 && pllNew->_pllPrev == 0", szSrc, 167);
    pllNew->_pllNext = _pllNext;
    if (_pllNext)
        _pllNext->_pllPrev = pllNew;
    pllNew->_pllPrev = this;
    _pllNext = pllNew;
    return pllNew;
}

LiLink* LiLink::insert(LiLink* pllNew)
{
    FEX_ASSERT(pllNew->_pllNext == nullptr && pllNew->_pllPrev == nullptr,
               "pllNew->_pllNext == 0 && pllNew->_pllPrev == 0", szSrc, 178);
    pllNew->_pllPrev = _pllPrev;
    if (_pllPrev)
        _pllPrev->_pllNext = pllNew;
    pllNew->_pllNext = this;
    _pllPrev = pllNew;
    return pllNew;
}

LiLink* LiLink::remove()
{
    if (_pllNext)
        _pllNext->_pllPrev = _pllPrev;
    if (_pllPrev)
        _pllPrev->_pllNext = _pllNext;
    _pllNext = nullptr;
    _pllPrev = nullptr;
    return this;
}

LiLink* LiChain::appendTail(LiLink* pll)
{
    FEX_ASSERT(pll->isIsol(), "pll->isIsol()", szSrc, 208);
    if (_pllTail) {
        _pllTail->append(pll);
    } else {
        FEX_ASSERT(!_pllHead, "!_pllHead", szSrc, 212);
        _pllHead = pll;
    }
    _pllTail = pll;
    return pll;
}

LiLink* LiChain::remove(LiLink* pll)
{
    if (pll == _pllHead)
        _pllHead = pll->_pllNext;
    if (pll == _pllTail)
        _pllTail = pll->_pllPrev;
    return pll->remove();
}

LiLink* LiChain::removeHead()
{
    return _pllHead ? remove(_pllHead) : nullptr;
}

LiLiPl::LiLiPl(void* p) : _pv(p)
{
    FEX_ASSERT(p, "p", szSrc, 237);
}
