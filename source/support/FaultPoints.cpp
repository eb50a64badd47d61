/* FaultPoints.cpp - the counter behind the fault points of the test builds.
 * The shipped builds compile this file to nothing: they keep no state
 * beyond the module handle. */
#include "FaultPoints.h"

#include "corvane/CorvaneAbi.h"

#ifdef CORVANE_FAULT_POINTS

#if defined(_WIN32)
#define CORVANE_TEST_EXPORT
#else
#define CORVANE_TEST_EXPORT __attribute__((visibility("default")))
#endif

static int32_t gFailAt = 0;    /* 0: no point fails */
static int32_t gFailAfter = 0; /* further points that fail after gFailAt; below 0: all */
static int32_t gPoints = 0;    /* points passed since the last arming */

int XPFaultPoint(void) {
  if (gPoints < INT32_MAX) ++gPoints;
  if (gFailAt <= 0) return 0;
  if (gPoints < gFailAt) return 0;
  return gFailAfter < 0 || gPoints - gFailAt <= gFailAfter;
}

extern "C" CORVANE_TEST_EXPORT void CorvaneTestArmFaults(int32_t failAt, int32_t failAfter) {
  gFailAt = failAt;
  gFailAfter = failAfter;
  gPoints = 0;
}

extern "C" CORVANE_TEST_EXPORT int32_t CorvaneTestFaultPoints(void) { return gPoints; }

#endif
