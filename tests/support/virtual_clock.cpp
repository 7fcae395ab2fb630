// The virtual clock's calendar: proleptic Gregorian days to and from the epoch, in UTC.
#include "tests/support/virtual_clock.h"

namespace dorvane::testing {
namespace {

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

}  // namespace

platform::CalendarTime VirtualClock::localCalendar(std::int64_t secondsSinceEpoch) {
  std::int64_t days = secondsSinceEpoch / 86400;
  std::int64_t rest = secondsSinceEpoch % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  platform::CalendarTime t;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  t.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  // Civil date from days since the epoch.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(z - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (t.month <= 2 ? 1 : 0));
  t.yearDay = static_cast<int>(days - daysFromCivil(t.year, 1, 1));
  return t;
}

void VirtualClock::setWallTime(int year, int month, int day, int hour, int minute, int second) {
  wall.seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                 hour * 3600 + minute * 60 + second;
  wall.milliseconds = 0;
}

}  // namespace dorvane::testing
