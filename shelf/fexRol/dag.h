// Sorting helpers: removal of adjacent duplicates and a topological sort
// driven by callbacks.
#pragma once

#include <cstddef>

#include "kvexport.h"

// Compacts an array of cElem elements of s bytes: an element equal to the
// last kept one (pFCmp gives 0) is dropped, pFDel (when given) is called on
// it where it lies. Returns the number kept.
FEXROL_API int uniq(void* pBase, size_t cElem, size_t s, int (*pFCmp)(const void*, const void*),
                    void (*pFDel)(void*));

// Told about an element: pFs(pObj, pIter, -1, -1) starts the iteration of its
// successors, pFs(pObj, null, -1, cInd) reports its number of predecessors,
// pFs(pObj, pIter, iOrd, -1) its place in the order and starts the iteration.
typedef void (*PF_TSSI)(void* pObj, void* pIter, int iOrd, int cInd);
// The next successor of pObj (an element of the same array), null at the end.
typedef void* (*PF_TSIT)(void* pObj, void* pIter);

// Topological sort of c elements of s bytes. pList and pInd are arrays of c
// integers of the caller: pList receives the indices in order, pInd the
// predecessor counts. Returns 0 when every element was ordered, 1 when a
// cycle left some unordered.
FEXROL_API int tsort(void* pBase, size_t s, int* pList, int* pInd, int c, PF_TSSI pFs, PF_TSIT pFi,
                     void* pIter);
