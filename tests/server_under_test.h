#pragma once
// The public class the end-to-end tests run against: libframeyard's, or libframeyard-rt's when
// built with FRAMEYARD_TEST_REALTIME_ONLY.
#ifdef FRAMEYARD_TEST_REALTIME_ONLY
#include <frameyard/server_rt.h>
#else
#include <frameyard/server.h>
#endif
