"""Quillmere: interpolation and decimation factors L/M for rational sample-rate conversion,
their filter cost, and designed filters as NumPy arrays ready for scipy.

    >>> import quillmere
    >>> plan = quillmere.plan(44100, 48000, stages=2)
    >>> [(stage.l, stage.m) for stage in plan.stages]
    [(10, 7), (16, 21)]
    >>> design = quillmere.design(plan)
    >>> h = design.stages[0].coefficients     # scipy.signal.upfirdn(h, x, 10, 7)

plan() answers a request as the command line does (`quillmere --format json`; to_dict()
gives that very record); design() designs, measures and hands over the filters of the
stages. A refused request raises RequestError, a ValueError that names the refused
parameter; a search that finds nothing, or fails, says so in its status. Both release the
GIL, so several threads can plan at once, and Ctrl+C (KeyboardInterrupt) stops them
within tens of milliseconds.
"""

from __future__ import annotations

import typing
from typing import Optional, Tuple, Union

from . import _native
from ._enums import (DesignFallback, DesignMethod, Outcome, Priority, SearchMode, StageFilter,
                     Status)
from ._native import (CascadeResponse, FilterDesign, FilterSpec, MeasuredResponse,
                      QuantizedFilter, RequestError, StageDesign)
from ._plans import (Advice, Cost, Plan, RateError, Request, Search, SingleStageCost, Stage,
                     StageCost)

__all__ = [
    "plan", "design", "version", "Plan", "FilterSpec", "FilterDesign", "StageDesign",
    "MeasuredResponse", "QuantizedFilter", "CascadeResponse", "RequestError", "Request",
    "Stage", "RateError", "Advice", "Search", "Cost", "StageCost", "SingleStageCost", "Status",
    "Outcome", "SearchMode", "Priority", "DesignMethod", "StageFilter", "DesignFallback",
]

#: The library's version, "MAJOR.MINOR.PATCH".
__version__: str = _native.version()

Rate = Union[float, str]


def version() -> str:
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return _native.version()


def plan(input_rate: Rate, output_rate: Rate, *, stages: Union[int, str] = 1,
         mode: Union[SearchMode, str, None] = None, limit: Optional[int] = None,
         allow_first_decimation: Optional[bool] = None, target: Optional[Rate] = None,
         priority: Union[Priority, str] = Priority.BALANCED,
         filter: Optional[FilterSpec] = None,  # noqa: A002 - the command line's word
         cost: Optional[bool] = None, tolerance: Union[float, str, None] = None) -> Plan:
    """Finds the interpolation and decimation factors L/M that convert input_rate to
    output_rate, in one stage or a cascade L1/M1 -> L2/M2 -> ...: the command line's
    request `quillmere [OPTIONS] INPUT_RATE OUTPUT_RATE`, argument for option.

    input_rate, output_rate
        Sample rates in Hz, 1 to 1e13: numbers, or text as the command line takes it
        ("48000", "44.1k", "2.4M"; the suffixes k, M and G scale by 1e3, 1e6, 1e9).
    stages
        1 (the default), 2, or in min-cost 3, 4 or "auto" (the cheapest count) (--stages).
    mode
        Two stages: how the search chooses (--mode): SearchMode.MINIMAL_SUM
        ("minimal-sum", the smallest L1+M1+L2+M2, limit 65535), CUSTOM_LIMIT
        ("custom-limit", the best accuracy under the limit) or MIN_COST ("min-cost", the
        cheapest filters, also over one to four stages) or BEST_ACCURACY ("best-accuracy",
        the most accurate cascade within the limit). Default: minimal-sum, or custom-limit
        when a limit is given.
    limit
        Two stages: the largest L and M per stage, 1 to 65535 (--limit); implies
        custom-limit unless the mode is min-cost. Not with minimal-sum.
    allow_first_decimation
        Two stages or more: the first stage may decimate, M1 > L1 (True:
        --allow-first-decimation, False: --no-first-decimation). Default (None): on in
        min-cost and best-accuracy, off in the other modes.
    target
        Two stages: the rate wanted between the stages, Hz (--target).
    priority
        How the target weighs against the final rate (--priority; needs a target):
        Priority.BALANCED (the default; a match of both rates first, otherwise as final),
        STRICT (only candidates that match the target), FINAL (a final-rate match first,
        then closeness to the target) or IGNORE (reported only).
    filter
        What the filters must achieve (a FilterSpec: passband and stopband edges,
        attenuation, ripple). Given, the plan estimates the filters' cost (--cost with
        --passband, --stopband, --attenuation, --ripple); the min-cost mode prices with it.
    cost
        Estimate the filter cost (--cost); default: whether a filter is given. With
        cost=True and no filter, the cost uses FilterSpec()'s defaults.
    tolerance
        The largest relative error of the output rate accepted (--tolerance): a number
        (1e-6) or text ("5ppm"). A result outside it is Status.NOT_FOUND; min-cost may take
        a simpler ratio within it for cheaper filters.

    Returns a Plan: the stages with their rates, the achieved ratio and output rate, the
    errors in Hz, relative and in PPM, the advice, the status, the message and, when
    asked, the cost; to_dict() gives the command line's JSON record of the request.

    Raises RequestError (a ValueError) for a request the command line would refuse, with
    the library's message, naming the parameter: a rate out of range, a limit out of 1 to
    65535, two-stage arguments with one stage, a priority without a target, a passband not
    below the stopband, ... A search that finds no factors is Status.NOT_FOUND on the
    Plan, not an exception. KeyboardInterrupt stops a long search.
    """
    record = _native.plan(input_rate, output_rate, stages=stages,
                          mode=None if mode is None else str(mode), limit=limit,
                          allow_first_decimation=allow_first_decimation, target=target,
                          priority=str(priority), filter=filter, cost=cost,
                          tolerance=tolerance)
    return Plan(record)


StageFactors = Union[Tuple[int, int], Stage, StageDesign]


def _factors(stage: StageFactors) -> Tuple[int, int]:
    """(l, m) of a pair or of an object with l and m."""
    if isinstance(stage, tuple):
        l, m = stage  # noqa: E741 - the factor's name
        return int(l), int(m)
    return int(stage.l), int(stage.m)


def design(plan_or_rate: Union[Plan, float], *,
           stages: Optional[typing.Iterable[StageFactors]] = None,
           filter: Optional[FilterSpec] = None,  # noqa: A002 - the command line's word
           method: Union[DesignMethod, str] = DesignMethod.AUTO,
           quantize: Optional[int] = None) -> FilterDesign:
    """Designs the filter of every stage of a cascade, measures each stage and the cascade
    as a whole, and returns them (a FilterDesign, one StageDesign per stage).

    plan_or_rate
        A Plan (its stages, its input rate and its filter requirements), or the input
        rate in Hz, with the stages given as `stages`.
    stages
        With an input rate: the cascade, as (l, m) pairs or objects with l and m.
    filter
        The filter requirements (a FilterSpec); default: the plan's, else FilterSpec().
        Each stage passes up to the passband edge and stops from min(its input rate, its
        output rate) - the stopband edge; the ripple is shared among the filtered stages,
        and each stage's attenuation target includes the allowance for leaks that can meet
        on one output frequency.
    method
        DesignMethod.AUTO ("auto", the default: equiripple where the Remez exchange
        converges and the filter measures within its requirements, Kaiser otherwise),
        KAISER ("kaiser") or EQUIRIPPLE ("equiripple", refused beyond 4095 taps).
    quantize
        Also round the coefficients to signed integers of this many bits (8 to 32) and
        measure the rounded filters (StageDesign.quantized).

    Each StageDesign has l, m, the rates, `coefficients` (the prototype in time order with
    DC gain L, a 1-D numpy.float64 array: scipy.signal.upfirdn(h, x, l, m) runs the stage
    with a passband gain of 1), `polyphase` (an L x ceil(taps / L) array whose row p is
    coefficients[p::L]) and the measured figures (`measured`: ripple, attenuation, peak
    gain, meets_spec). A design that misses its requirements says so in meets_spec.

    Raises RequestError (a ValueError) for requirements the library refuses, naming the
    parameter, and for a plan without stages. A design that fails otherwise (too long a
    filter, an equiripple design the exchange cannot make) has that status and message.
    KeyboardInterrupt stops it.
    """
    if isinstance(plan_or_rate, Plan):
        if stages is not None:
            raise TypeError("design(plan) takes the plan's stages; stages= goes with an input rate")
        if plan_or_rate.status is not Status.OK:
            error = RequestError(f"the plan has no stages to design (status "
                                 f"{plan_or_rate.status}): {plan_or_rate.message}".rstrip(": "))
            error.parameter = "plan_or_rate"
            raise error
        input_rate = plan_or_rate.request.input_rate_hz
        factors = [_factors(stage) for stage in plan_or_rate.stages]
        if filter is None:
            filter = plan_or_rate.filter  # noqa: A001
    else:
        if stages is None:
            raise TypeError("design(input_rate, stages=[(l, m), ...]) needs the stages")
        input_rate = float(plan_or_rate)
        factors = [_factors(stage) for stage in stages]
    return _native.design(input_rate, factors, filter, str(method), quantize)


# The native classes present themselves as quillmere's.
for _class in (FilterSpec, FilterDesign, StageDesign, MeasuredResponse, QuantizedFilter,
               CascadeResponse, _native.PlanRecord):
    _class.__module__ = __name__
del _class
