"""What plan() returns: the command line's JSON record of the request, as Python values.

Every value here is read from that record (its keys, its units, null as None), so a Plan
says exactly what `quillmere --format json` says for the same request."""

from __future__ import annotations

import dataclasses
import json
from typing import Any, Dict, Optional, Tuple, Type, TypeVar

from . import _native
from ._enums import Outcome, Priority, SearchMode, Status

_View = TypeVar("_View")


def _view(cls: Type[_View], data: Dict[str, Any], **converted: Any) -> _View:
    """An instance of the dataclass `cls` from the record's object `data`, field by key."""
    values = {field.name: data[field.name] for field in dataclasses.fields(cls)  # type: ignore
              if field.name not in converted}
    return cls(**values, **converted)


@dataclasses.dataclass(frozen=True)
class Request:
    """The request as understood, with the defaults filled in (the record's "request")."""

    input_rate_hz: float
    output_rate_hz: float
    stages: int
    mode: Optional[SearchMode]  #: None for one stage
    limit: Optional[int]  #: the largest L and M per stage; None for one stage
    allow_first_decimation: Optional[bool]  #: None for one stage
    target_hz: Optional[float]  #: the intermediate-rate target, if any
    priority: Optional[Priority]  #: the target's priority, None without a target
    cost: bool  #: whether the filter cost was estimated


@dataclasses.dataclass(frozen=True)
class Stage:
    """One resampling stage: interpolate by l, decimate by m."""

    l: int  # noqa: E741 - the factor's name
    m: int
    complexity: int  #: the larger of l and m
    input_rate_hz: Optional[float]
    output_rate_hz: Optional[float]


@dataclasses.dataclass(frozen=True)
class RateError:
    """How far an achieved rate is from its target; None where it cannot be computed."""

    difference_hz: Optional[float]  #: achieved minus target, Hz
    relative: Optional[float]  #: |difference| / |target|
    ppm: Optional[float]  #: difference / target x 1e6


@dataclasses.dataclass(frozen=True)
class Advice:
    """The advice a report gives, as flags."""

    significant_error: bool  #: the output rate misses by 1e-6 relative or more
    large_factors: bool  #: some factor exceeds 1000: long filters, expensive
    slight_difference: bool  #: two stages: the output rate misses, but not significantly
    intermediate_miss: bool  #: two stages with a target: the intermediate rate misses it
    large_limit: bool  #: custom-limit with a per-stage limit above 1000
    high_intermediate_target: bool  #: the target is above both rates


@dataclasses.dataclass(frozen=True)
class Search:
    """What the search went through."""

    convergents: Optional[int]  #: convergents of the ratio, None when not reached
    common_factor_iterations: Optional[int]  #: two stages: iterations of the g/h pass


@dataclasses.dataclass(frozen=True)
class StageCost:
    """The estimated filter of one stage (Kaiser's formulas)."""

    taps: int  #: filter length, also the coefficients to store
    kaiser_beta: Optional[float]
    taps_per_output_sample: Optional[float]  #: taps / L
    macs_per_second: Optional[float]  #: multiply-accumulates per second
    transition_hz: Optional[float]  #: width of the transition band
    filtered: bool  #: False for L = M = 1: no filter
    input_rate_hz: Optional[float]
    output_rate_hz: Optional[float]


@dataclasses.dataclass(frozen=True)
class SingleStageCost:
    """Two stages: the same overall ratio in one stage, and its cost."""

    l: int  # noqa: E741 - the factor's name
    m: int
    taps: int
    total_macs_per_second: Optional[float]


@dataclasses.dataclass(frozen=True)
class Cost:
    """The estimated cost of the cascade's filters (the record's "cost")."""

    passband_hz: Optional[float]  #: the edges used, given or default
    stopband_hz: Optional[float]
    attenuation_db: Optional[float]  #: of every stage
    ripple_db: Optional[float]  #: of the whole cascade
    stages: Tuple[StageCost, ...]
    total_macs_per_second: Optional[float]  #: None when the estimate was refused
    total_coefficients: Optional[int]
    single_stage: Optional[SingleStageCost]  #: two stages: one stage of the same ratio
    error: Optional[str]  #: why the estimate was refused, else None


class Plan:
    """The answer to one request: what plan() returns.

    The values are those of the command line's JSON record (to_dict()); a value that
    cannot be computed is None. `status` is the library's status of the search; a status
    other than Status.OK is a value here, not an exception."""

    __slots__ = ("_record", "_data", "request", "stages", "cost")

    def __init__(self, record: _native.PlanRecord) -> None:
        self._record = record
        data: Dict[str, Any] = json.loads(record.json())
        self._data = data
        request = data["request"]
        #: The request as understood, with the defaults filled in.
        self.request: Request = _view(
            Request, request,
            mode=None if request["mode"] is None else SearchMode(request["mode"]),
            priority=None if request["priority"] is None else Priority(request["priority"]))
        #: The stages found, in order (empty when none were found).
        self.stages: Tuple[Stage, ...] = tuple(_view(Stage, stage) for stage in data["stages"])
        cost = data["cost"]
        #: The filter cost, when filter requirements (or cost=True) were given.
        self.cost: Optional[Cost] = None if cost is None else _view(
            Cost, cost, stages=tuple(_view(StageCost, stage) for stage in cost["stages"]),
            single_stage=None if cost["single_stage"] is None
            else _view(SingleStageCost, cost["single_stage"]))

    @property
    def status(self) -> Status:
        """The library's status: Status.OK when factors were found, NOT_FOUND when no
        candidate met the request, or the error the search ended with."""
        return self._record.status

    @property
    def outcome(self) -> Outcome:
        """MATCH when the output rate is reproduced, APPROXIMATION, or NOT_FOUND."""
        return self._record.outcome

    @property
    def message(self) -> str:
        """Why the search failed, as the library says it; empty when it did not."""
        return self._record.message

    @property
    def filter(self) -> _native.FilterSpec:
        """The filter requirements of the request (design(plan) designs for them)."""
        return self._record.filter

    @property
    def ratio(self) -> Optional[float]:
        """The achieved overall ratio, the product of L/M over the stages."""
        return self._data["ratio"]

    @property
    def intermediate_rate_hz(self) -> Optional[float]:
        """Two stages: the rate between them."""
        return self._data["intermediate_rate_hz"]

    @property
    def output_rate_hz(self) -> Optional[float]:
        """The achieved output rate."""
        return self._data["output_rate_hz"]

    @property
    def output_error(self) -> Optional[RateError]:
        """The achieved output rate against the requested one."""
        error = self._data["output_error"]
        return None if error is None else _view(RateError, error)

    @property
    def intermediate_error(self) -> Optional[RateError]:
        """The intermediate rate against the target; None without a target."""
        error = self._data["intermediate_error"]
        return None if error is None else _view(RateError, error)

    @property
    def overall_sum(self) -> Optional[int]:
        """Two stages: L1 + M1 + L2 + M2."""
        return self._data["overall_sum"]

    @property
    def overall_complexity(self) -> Optional[int]:
        """The sum of the stages' complexities (the larger of L and M of each)."""
        return self._data["overall_complexity"]

    @property
    def advice(self) -> Optional[Advice]:
        """The report's advice; None when no factors were found (one stage)."""
        advice = self._data["advice"]
        return None if advice is None else _view(Advice, advice)

    @property
    def search(self) -> Optional[Search]:
        """What the search went through."""
        search = self._data["search"]
        return None if search is None else _view(Search, search)

    def to_dict(self) -> Dict[str, Any]:
        """The command line's JSON record of the request (quillmere --format json), as a
        new dict: the same keys, values and order."""
        result: Dict[str, Any] = json.loads(self._record.json())
        return result

    def to_json(self) -> str:
        """The JSON record as the command line writes it (one line, without its end)."""
        return self._record.json()

    def to_text(self) -> str:
        """The text report, as quillmere --format text writes it for the request."""
        return self._record.text()

    def to_csv(self, header: bool = True) -> str:
        """The CSV row of the request as quillmere --format csv writes it, after the
        header row unless header is False."""
        row = self._record.csv_row()
        return _native.PlanRecord.csv_header() + row if header else row

    def __repr__(self) -> str:
        request = self.request
        found = " -> ".join(f"{stage.l}/{stage.m}" for stage in self.stages)
        return (f"<quillmere.Plan {request.input_rate_hz:g} Hz -> {request.output_rate_hz:g} Hz: "
                f"{found or 'no stages'} ({self._data['status']})>")
