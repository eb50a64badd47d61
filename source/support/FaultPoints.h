/* FaultPoints.h - failure injection for the test builds of the plug-in.
 *
 * Every allocation, resize and lock passes one fault point.  In the shipped
 * builds a fault point is the constant 0.  The test builds export two
 * functions through which a test arms the n-th point (and the k points after
 * it, or every one after it) and reads how many points an operation passed. */
#ifndef CORVANE_FAULTPOINTS_H
#define CORVANE_FAULTPOINTS_H

#include <stdint.h>

#ifdef CORVANE_FAULT_POINTS
/* 1 when the operation at this point must fail. */
int XPFaultPoint(void);
#else
static inline int XPFaultPoint(void) { return 0; }
#endif

#endif
