// Today's block rewrite and taken runs, kept for the property test only.
#pragma once

#include <string>
#include <vector>

#include "engine/scope.h"
#include "engine/taken.h"

namespace ref {

double numC(const std::string& s);
long intC(const std::string& s);
orvel::Node parseNode(const std::vector<std::string>& t);
bool splitBlockLights(std::vector<std::string>& rows, const orvel::SuppressScope& scope, int& splits);
std::vector<orveldb::TakenRun> takenByPass(const std::vector<std::string>& rows,
                                           const orvel::SuppressScope& scope);

}  // namespace ref
