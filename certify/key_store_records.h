// What a certification loaded, recorded in a key store as the program and the tool record the
// same loads, for a run that was asked to keep its test keys.
#pragma once

#include <string>

#include "certificate.h"
#include "key_store.h"

namespace certify {

// Writes the records of every load of `certificate` into `store`, in the order of the loads, then
// the authentication data and the PIN time-out the pad was given. "" when all were written, else
// why the first that failed was not (those before it stay written).
std::string RecordLoads(const Certificate& certificate, const padlogic::KeyStore& store);

}  // namespace certify
