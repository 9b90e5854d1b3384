#pragma once

#include "Platform/Date.h"

#include <QString>

namespace ostrel {

// "5 min. ago", "in 2 hr.", "3 days ago": an English relative date with short units, the largest
// unit that reaches one, counted whole. A difference under one second reads "now".
namespace RelativeDate {

QString shortText(Date date, Date now);

} // namespace RelativeDate

} // namespace ostrel
