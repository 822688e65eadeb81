#pragma once
// What libframeyard-client exports: every public class and function carries this mark, the
// rest of the library stays hidden.
#define FRAMEYARD_CLIENT_API __attribute__((visibility("default")))
