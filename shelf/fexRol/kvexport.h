// Export switch of the deliverables. Each component has its own API macro that
// marks the classes and functions its deliverable exports; a deliverable that
// only carries the component built in leaves them hidden.
#pragma once

// On Windows a deliverable exports its API from its DLL and a program that uses
// it imports it from there; code built into a deliverable (KV_BUILT_IN) does
// neither. On ELF the API has default visibility and nothing is imported.
#ifdef _WIN32
#define KV_EXPORT __declspec(dllexport)
#ifdef KV_BUILT_IN
#define KV_IMPORT
#else
#define KV_IMPORT __declspec(dllimport)
#endif
#else
#define KV_EXPORT __attribute__((visibility("default")))
#define KV_IMPORT
#endif

#ifdef FEXROL_EXPORTS
#define FEXROL_API KV_EXPORT
#else
#define FEXROL_API KV_IMPORT
#endif
