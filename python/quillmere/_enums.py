"""The library's enumerations. Each value is the name the library gives it, which is also
the command line's word for it and the value in its JSON records: SearchMode.MIN_COST ==
"min-cost". Wherever quillmere takes one of them, the string does as well."""

import enum
import sys

if sys.version_info >= (3, 11):
    _NamedEnum = enum.StrEnum
else:  # pragma: no cover - Python before 3.11

    class _NamedEnum(str, enum.Enum):
        """A str enum whose str() is its value, as enum.StrEnum."""

        def __str__(self) -> str:
            return str(self.value)


class Status(_NamedEnum):
    """How a call ended."""

    OK = "ok"  #: factors were found (a match or an approximation); the design was made
    NOT_FOUND = "not_found"  #: the search ended normally, but no candidate met the request
    STOPPED = "stopped"  #: the caller asked the call to stop
    INVALID_REQUEST = "invalid_request"  #: refused before any search (raised as RequestError)
    MEMORY_ERROR = "memory_error"  #: memory ran out, or a filter would be too long
    CALCULATION_ERROR = "calculation_error"  #: a computation gave no usable result
    OVERFLOW_ERROR = "overflow_error"  #: a 64-bit integer computation would overflow


class Outcome(_NamedEnum):
    """Whether a result reproduces the requested output rate."""

    MATCH = "match"  #: the output rate matches within 1e-9 relative
    APPROXIMATION = "approximation"  #: factors found; the output rate only approximates
    NOT_FOUND = "not_found"  #: no factors (see the status)


class SearchMode(_NamedEnum):
    """How the search chooses among candidates."""

    MINIMAL_SUM = "minimal-sum"  #: the smallest L1+M1+L2+M2, then the smaller final error
    CUSTOM_LIMIT = "custom-limit"  #: the smallest final error under the limit, then the sum
    MIN_COST = "min-cost"  #: the fewest multiply-accumulates per second of the filters
    BEST_ACCURACY = "best-accuracy"  #: the smallest final error among all cascades in the limit


class Priority(_NamedEnum):
    """How an intermediate-rate target weighs against the final rate."""

    BALANCED = "balanced"  #: a match of both rates first; otherwise as FINAL
    STRICT = "strict"  #: only candidates that match the target can be chosen
    FINAL = "final"  #: a final-rate match first, then closeness to the target
    IGNORE = "ignore"  #: the target plays no part in the choice; it is still reported


class DesignMethod(_NamedEnum):
    """How design() designs the filter of each stage."""

    AUTO = "auto"  #: per stage, equiripple where it converges and measures within, else Kaiser
    KAISER = "kaiser"  #: a Kaiser-windowed sinc with the cost model's length and beta
    EQUIRIPPLE = "equiripple"  #: Parks-McClellan, the shortest length that measures within


class StageFilter(_NamedEnum):
    """The filter a stage got."""

    NONE = "none"  #: L = M = 1: the stage passes the signal through, no filter
    KAISER = "kaiser"  #: a Kaiser-windowed sinc
    EQUIRIPPLE = "equiripple"  #: a Parks-McClellan (Remez exchange) design


class DesignFallback(_NamedEnum):
    """Why a stage of an automatic design is not equiripple."""

    NONE = "none"  #: the stage has the method asked for
    TOO_LONG = "too_long"  #: its equiripple length would exceed 4095 taps: not attempted
    NO_CONVERGENCE = "no_convergence"  #: the exchange did not converge
    MISSED_REQUIREMENTS = "missed_requirements"  #: no equiripple length measured within
