/* FaultPoints.cpp - the counters behind the fault points of the test
 * builds.  The shipped builds compile this file to nothing: they keep no
 * state beyond the module handle. */
#include "FaultPoints.h"

#include <string.h>

#include "corvane/CorvaneAbi.h"

#ifdef CORVANE_FAULT_POINTS

#if defined(_WIN32)
#define CORVANE_TEST_EXPORT
#else
#define CORVANE_TEST_EXPORT __attribute__((visibility("default")))
#endif

/* The names tests arm the sites by; they stay as they are when sites are
 * added, so that a test names only the sites it is about. */
static const char* const kSiteNames[] = {
    "instance block",
    "ScratchBuffer",
    "BigBuffer",
    "column definition",
    "column references",
    "column searchers",
    "ScratchBuffer lock",
    "BigBuffer lock",
    "ScratchBuffer growth",
    "ScratchBuffer growth by a step",
    "ScratchBuffer lock after growth",
    "BigBuffer growth",
    "BigBuffer growth by a step",
    "BigBuffer lock after growth",
    "text handle",
    "text handle lock",
    "text handle growth",
    "text handle lock after growth",
    "design text",
};
static_assert(sizeof kSiteNames / sizeof kSiteNames[0] == kFaultSiteCount, "a name for every site");

/* The site of each of the first points passed since the last arming. */
enum { kSiteLogSize = 4096 };

static int32_t gFailAt = 0;                   /* 0: no point fails by count */
static int32_t gFailAfter = 0;                /* further points that fail after gFailAt; below 0: all */
static int32_t gPoints = 0;                   /* points passed since the last arming */
static int32_t gSiteFailsAt[kFaultSiteCount]; /* the pass of the site that fails; 0 none, below 0 all */
static int32_t gSitePasses[kFaultSiteCount];  /* passes of each site since the last arming */
static uint8_t gSiteLog[kSiteLogSize];

int XPFaultPoint(XPFaultSite site) {
  if (gPoints < INT32_MAX) ++gPoints;
  if (gPoints <= kSiteLogSize) gSiteLog[gPoints - 1] = (uint8_t)site;
  if (gSitePasses[site] < INT32_MAX) ++gSitePasses[site];
  const int32_t armed = gSiteFailsAt[site];
  if (armed < 0 || (armed > 0 && gSitePasses[site] == armed)) return 1;
  if (gFailAt <= 0) return 0;
  if (gPoints < gFailAt) return 0;
  return gFailAfter < 0 || gPoints - gFailAt <= gFailAfter;
}

/* Fails the failAt-th point passed from now on and the failAfter after it
 * (every later one when below 0); 0 fails none.  Disarms every site armed
 * by name and starts the counts afresh. */
extern "C" CORVANE_TEST_EXPORT void CorvaneTestArmFaults(int32_t failAt, int32_t failAfter) {
  gFailAt = failAt;
  gFailAfter = failAfter;
  gPoints = 0;
  memset(gSiteFailsAt, 0, sizeof gSiteFailsAt);
  memset(gSitePasses, 0, sizeof gSitePasses);
}

/* Fails the site of this name at its pass-th pass since the last
 * CorvaneTestArmFaults (every pass when 0 or below), besides whatever is
 * armed already; a site armed again keeps the later arming.  1 when the
 * name is a site's, else 0. */
extern "C" CORVANE_TEST_EXPORT int32_t CorvaneTestArmFaultNamed(const char* name, int32_t pass) {
  if (name == nullptr) return 0;
  for (int32_t site = 0; site < kFaultSiteCount; ++site) {
    if (strcmp(name, kSiteNames[site]) == 0) {
      gSiteFailsAt[site] = pass > 0 ? pass : -1;
      return 1;
    }
  }
  return 0;
}

extern "C" CORVANE_TEST_EXPORT int32_t CorvaneTestFaultPoints(void) { return gPoints; }

/* The name of the site of the n-th point passed since the last arming
 * (n from 1), or null when fewer were passed or the n-th is past the log. */
extern "C" CORVANE_TEST_EXPORT const char* CorvaneTestFaultPointSite(int32_t n) {
  if (n < 1 || n > gPoints || n > kSiteLogSize) return nullptr;
  return kSiteNames[gSiteLog[n - 1]];
}

#endif
