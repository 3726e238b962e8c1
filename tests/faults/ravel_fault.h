// RavelFault: an input plug-in for tests that serves a local file through
// the four plug-in entries and misbehaves on request. Tests bind it the way
// the reader binds any plug-in (BindInput with "RavelFault.dll", then
// OpenWithInput) and set the fault through RavelFaultConfigure, which they
// look up with dlsym on their own handle of the same library.
#ifndef OGMDECAPS_TESTS_FAULTS_RAVEL_FAULT_H
#define OGMDECAPS_TESTS_FAULTS_RAVEL_FAULT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum RavelFaultKind {
  kFaultNone = 0,
  kFaultShortReads,  /* each read hands out 1..param bytes */
  kFaultFailAfter,   /* from the open numbered param on: reads at or past offset `at` return 0 */
  kFaultFailOnce,    /* on the open numbered param, the first read after `at` bytes returns 0; later
                        reads go on */
  kFaultSeekRefused, /* seeks return 0 and leave the position */
  kFaultSeekElsewhere,   /* seeks land at half the offset asked for and return 1 */
  kFaultEndsEarly,       /* the length reported is the file's, but the data ends at `at` */
  kFaultChangedOnReopen, /* the second and later opens serve the file at otherPath */
  kFaultBlockAfter, /* from open param on: reads at or past offset `at` block until RavelClose */
  kFaultOverclaim,  /* reads at or past offset `at` report count + param (param < 0: that negative
                       value) */
  kFaultReopenRefused, /* the second and later opens return 0 */
};

typedef struct RavelFaultPlan {
  int32_t kind;
  int64_t at;
  int32_t param;
  const char* otherPath; /* copied at configure time */
} RavelFaultPlan;

typedef struct RavelFaultCounters {
  int64_t opens;
  int64_t closes;
  int64_t reads;
  int64_t seeks;
  int64_t blockedReads; /* reads that blocked until a close */
  int32_t open;         /* 1 while a source is open */
} RavelFaultCounters;

/* Sets the fault for the following opens; resets the counters. */
typedef void (*RavelFaultConfigureFn)(const RavelFaultPlan* plan);
typedef void (*RavelFaultStatsFn)(RavelFaultCounters* out);

#ifdef __cplusplus
}
#endif

#endif
