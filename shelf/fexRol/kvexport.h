// Export switch of the deliverables. Each component has its own API macro that
// marks the classes and functions its deliverable exports; a deliverable that
// only carries the component built in leaves them hidden.
#pragma once

#define KV_EXPORT __attribute__((visibility("default")))

#ifdef FEXROL_EXPORTS
#define FEXROL_API KV_EXPORT
#else
#define FEXROL_API
#endif
