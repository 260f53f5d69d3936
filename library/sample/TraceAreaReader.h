/* TraceAreaReader.h: a small C interface to the reader's side of the shared trace area, for the sample. */
#ifndef QORCAM_TRACE_AREA_READER_H
#define QORCAM_TRACE_AREA_READER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Creates or opens the trace area under the current QORCAM_ROOT; 0 on failure. */
int qorcam_trace_open(void);
/* Sets the level word (0 off, 1 standard, 2 detail); returns the level before. */
uint32_t qorcam_trace_set_level(uint32_t level);
/* Hands every pending line to print (in slot order) and empties the area, as
 * the log tool does; returns the number of lines. */
uint32_t qorcam_trace_take(void (*print)(const char* line));
void qorcam_trace_close(void);

#ifdef __cplusplus
}
#endif

#endif
