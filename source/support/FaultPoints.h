/* FaultPoints.h - failure injection for the test builds of the plug-in.
 *
 * Every allocation, resize and lock passes one fault point, and every fault
 * point has a site with a stable name (the table in FaultPoints.cpp).  In
 * the shipped builds a fault point is the constant 0 and nothing is
 * exported for it.  The test builds export four functions: one arms the
 * n-th point passed (and the k points after it, or every one after it), so
 * that a sweep visits every point by count; one arms a site by name, at
 * its m-th pass or at every pass; one gives how many points an operation
 * passed; one gives the name of the site of the n-th point passed. */
#ifndef CORVANE_FAULTPOINTS_H
#define CORVANE_FAULTPOINTS_H

#include <stdint.h>

/* The sites.  A working buffer's three growth sites follow one another in
 * the order growth, growth by a step, lock after growth (see
 * XPGrowthSites). */
typedef enum XPFaultSite {
  kFaultInstanceBlock,        /* "instance block" */
  kFaultScratchBuffer,        /* "ScratchBuffer" */
  kFaultBigBuffer,            /* "BigBuffer" */
  kFaultColumnDefinition,     /* "column definition" */
  kFaultColumnReferences,     /* "column references" */
  kFaultColumnSearchers,      /* "column searchers" */
  kFaultScratchLock,          /* "ScratchBuffer lock" */
  kFaultBigLock,              /* "BigBuffer lock" */
  kFaultScratchGrowth,        /* "ScratchBuffer growth" */
  kFaultScratchGrowthStep,    /* "ScratchBuffer growth by a step" */
  kFaultScratchGrowthLock,    /* "ScratchBuffer lock after growth" */
  kFaultBigGrowth,            /* "BigBuffer growth" */
  kFaultBigGrowthStep,        /* "BigBuffer growth by a step" */
  kFaultBigGrowthLock,        /* "BigBuffer lock after growth" */
  kFaultTextHandle,           /* "text handle" */
  kFaultTextHandleLock,       /* "text handle lock" */
  kFaultTextHandleGrowth,     /* "text handle growth" */
  kFaultTextHandleGrowthLock, /* "text handle lock after growth" */
  kFaultDesignText,           /* "design text" */
  kFaultSiteCount
} XPFaultSite;

/* The growth sites of a working buffer, from its first one. */
static inline XPFaultSite XPGrowthSite(XPFaultSite growth, int32_t which) {
  return (XPFaultSite)((int32_t)growth + which);
}
enum { kGrowthSiteResize = 0, kGrowthSiteStep = 1, kGrowthSiteLock = 2 };

#ifdef CORVANE_FAULT_POINTS
/* 1 when the operation at this point must fail. */
int XPFaultPoint(XPFaultSite site);
#else
static inline int XPFaultPoint(XPFaultSite) { return 0; }
#endif

#endif
