#pragma once

namespace vireo {

// The tag the run uses whenever the stub's file carries no valid tag of its own.
constexpr char kDefaultTag[] =
    "appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&appname=Corvane-Release&needsadmin=prefers"
    "&ap=corvane";

}  // namespace vireo
