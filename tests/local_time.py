"""Runs pinned to a local time of day, so that none lands by chance in the midnight
truncation window."""
import datetime as dt


def tz_at(hour: int, minute: int) -> str:
    """A TZ value under which the local time is now hour:minute (give or take the seconds)."""
    now = dt.datetime.now(dt.timezone.utc)
    behind = (now.hour * 60 + now.minute - hour * 60 - minute) % 1440
    if behind > 720:
        behind -= 1440
    sign = "-" if behind < 0 else "+"
    return f"FLT{sign}{abs(behind) // 60:02d}:{abs(behind) % 60:02d}"
