"""Designed filters measured with this test's own code: each stage's response with
scipy.signal.freqz, and the cascade run stage by stage with scipy.signal.upfirdn on tones,
every line of its steady-state output read from one FFT. They must meet what the design
reports it was designed for: the tone within the cascade's ripple, every alias or image
in the protected band (below the stopband edge) at least the attenuation down."""

import gc
import math

import numpy as np
import pytest
import scipy.signal as signal

import quillmere
from quillmere import DesignMethod, FilterSpec, StageFilter, Status


def cascade_gcd(rates):
    g = 0
    for rate in rates:
        g = math.gcd(g, int(rate))
    return g


def output_lines(design, tone_hz, periods=10):
    """The cascade fed cos(2 pi tone t): (frequencies, amplitudes) of the lines of one
    stretch of its steady-state output, the input's amplitude being 1. The stretch holds
    whole periods of every line (multiples of the gcd of the rates and the tone), so each
    line falls on one FFT bin."""
    stages = design.stages
    # Whole rates (the stages' products of floating-point ratios only come close).
    rates = [stages[0].input_rate_hz] + [stage.output_rate_hz for stage in stages]
    assert all(abs(rate - round(rate)) < 1e-6 for rate in rates), rates
    rates = [round(rate) for rate in rates]
    input_rate, output_rate = rates[0], rates[-1]
    spacing = cascade_gcd(rates + [tone_hz])
    window = int(output_rate) // spacing * periods
    # Every stage needs taps / U seconds to fill its filter.
    settle = sum(stage.taps / stage.upsampled_rate_hz for stage in stages)
    start = math.ceil(settle * output_rate) + 2
    length = math.ceil((start + window + 4) * input_rate / output_rate) + 1
    x = np.cos(2 * np.pi * tone_hz * np.arange(length) / input_rate)
    y = x
    for stage in stages:
        y = signal.upfirdn(stage.coefficients, y, stage.l, stage.m)
    assert start + window <= length * output_rate / input_rate - 2
    segment = y[start:start + window]
    amplitudes = np.abs(np.fft.rfft(segment)) * 2 / window
    amplitudes[0] /= 2
    frequencies = np.arange(len(amplitudes)) * output_rate / window
    return frequencies, amplitudes


def db(value):
    return 20 * np.log10(np.maximum(value, 1e-300))


def check_tone(design, tone_hz):
    """The tone through the cascade: what the design reports it meets."""
    frequencies, amplitudes = output_lines(design, tone_hz)
    protected = frequencies < design.stopband_hz
    output_rate = round(design.stages[-1].output_rate_hz)
    folded = abs((tone_hz + output_rate / 2) % output_rate - output_rate / 2)
    tone = np.isclose(frequencies, folded)
    if tone_hz <= design.passband_hz:
        gain_db = db(amplitudes[tone][0])
        assert abs(gain_db) <= design.ripple_db, f"{tone_hz} Hz passes at {gain_db} dB"
        others = protected & ~tone
    else:
        others = protected  # a stopband tone: whatever lands in the protected band is a leak
    worst_db = float(np.max(db(amplitudes[others])))
    assert worst_db <= -design.attenuation_db, (
        f"{tone_hz} Hz: a line at {worst_db:.2f} dB, "
        f"{frequencies[others][np.argmax(amplitudes[others])]} Hz")
    # The cascade's bound covers every leak (the grid of this FFT sees exact lines).
    assert worst_db <= -design.measured.attenuation_db + 0.1
    return worst_db


def response_db(h, gain, rate_hz, points):
    """|H| / gain in dB on `points` frequencies from 0 to rate / 2 (freqz takes an FFT
    when `points` is a power of two at least as long as h)."""
    frequencies, response = signal.freqz(h, worN=points, fs=rate_hz)
    return frequencies, db(np.abs(response) / gain)


def band_extremes(h, gain, rate_hz, passband_hz, stopband_hz, points):
    """The ripple from 0 to the passband edge and the attenuation from the stopband edge
    to rate / 2, in dB, read from one grid."""
    frequencies, response = response_db(h, gain, rate_hz, points)
    passband = response[frequencies <= passband_hz]
    stopband = response[frequencies >= stopband_hz]
    return float(np.max(passband) - np.min(passband)), -float(np.max(stopband))


def check_stage(stage):
    """One stage's filter against its own targets, on a grid of at least 16 points per U /
    taps."""
    h = stage.coefficients
    assert h.dtype == np.float64 and h.ndim == 1 and len(h) == stage.taps
    assert np.allclose(h, h[::-1], rtol=0, atol=1e-12 * np.max(np.abs(h))), "not linear-phase"
    assert abs(np.sum(h) - stage.l) <= stage.l * (10 ** (stage.target_ripple_db / 20) - 1)
    assert stage.nonzero_taps == np.count_nonzero(h)
    assert stage.group_delay_samples == (stage.taps - 1) / 2
    points = 1 << max(16, (16 * stage.taps - 1).bit_length())  # freqz uses an FFT
    ripple, attenuation = band_extremes(h, stage.l, stage.upsampled_rate_hz, stage.passband_hz,
                                        stage.stopband_hz, points)
    assert ripple <= stage.target_ripple_db + 1e-3
    assert attenuation >= stage.target_attenuation_db - 0.05
    # What the design reports, within the resolution of this grid.
    assert ripple <= stage.measured.ripple_db + 1e-3
    # The design never reports more attenuation than there is; on long filters its own
    # measurement reads up to about 1 dB less than this denser one.
    assert stage.measured.attenuation_db <= attenuation + 0.3
    if stage.taps < 10000:
        assert attenuation == pytest.approx(stage.measured.attenuation_db, abs=0.3)
    # Polyphase: row p is h[p::L], zero-padded.
    phases = stage.polyphase
    assert phases.shape == (stage.l, -(-stage.taps // stage.l))
    for p in range(stage.l):
        row = h[p::stage.l]
        assert np.array_equal(phases[p, :len(row)], row)
        assert not np.any(phases[p, len(row):])


CASCADES = {
    # name: (design, passband tones, stopband tones)
    "44100 -> 63000 -> 48000, equiripple": (
        lambda: quillmere.design(quillmere.plan(44100, 48000, stages=2)),
        [1000, 9000, 19800], []),
    "48000 -> 8000 at 80 dB": (
        lambda: quillmere.design(quillmere.plan(48000, 8000,
                                                filter=FilterSpec(attenuation_db=80))),
        [600, 3500], [4200, 11000, 23000]),
    "96000 -> 64000 -> 44100, two leak paths": (
        lambda: quillmere.design(96000, stages=[(2, 3), (441, 640)]),
        [1000, 19000], [23000, 40000]),
    "8000 -> 16000 -> 192000, min-cost": (
        lambda: quillmere.design(quillmere.plan(8000, 192000, stages=2, mode="min-cost")),
        [500, 3500], []),
    "44100 -> 48000 Kaiser in one stage": (
        lambda: quillmere.design(44100, stages=[(160, 147)], method="kaiser"),
        [1000, 19000], []),
    "44100 -> 88200 -> 176400, a halfband": (
        lambda: quillmere.design(44100, stages=[(2, 1), (2, 1)]),
        [1000, 15000], []),
}


@pytest.mark.parametrize("name", list(CASCADES))
def test_cascade_on_tones_meets_its_requirements(name):
    make, passband_tones, stopband_tones = CASCADES[name]
    design = make()
    assert design.status is Status.OK and design.meets_spec, design
    for stage in design.stages:
        check_stage(stage)
    worst = [check_tone(design, tone) for tone in passband_tones + stopband_tones]
    print(f"{name}: worst line {max(worst):.2f} dB (attenuation {design.attenuation_db} dB)")


def test_design_follows_the_method_and_stages():
    design = quillmere.design(44100, stages=[(2, 1), (2, 1)], method=DesignMethod.EQUIRIPPLE)
    assert [stage.filter for stage in design.stages] == [StageFilter.EQUIRIPPLE] * 2
    assert design.stages[1].halfband and not design.stages[0].halfband
    halfband = design.stages[1].coefficients
    centre = (len(halfband) - 1) // 2
    assert not np.any(halfband[centre + 2::2]) and not np.any(halfband[centre - 2::-2])
    kaiser = quillmere.design(44100, stages=[(10, 7)], method="kaiser")
    assert kaiser.stages[0].filter is StageFilter.KAISER and kaiser.stages[0].kaiser_beta > 0
    passthrough = quillmere.design(48000, stages=[(1, 1), (1, 6)])
    assert passthrough.stages[0].filter is StageFilter.NONE
    assert passthrough.stages[0].coefficients.shape == (0,)
    # A plan's own filter requirements, unless others are given.
    plan = quillmere.plan(48000, 8000, filter=FilterSpec(attenuation_db=70, ripple_db=0.5))
    assert quillmere.design(plan).attenuation_db == 70
    assert quillmere.design(plan, filter=FilterSpec()).attenuation_db == 100


def test_quantized_coefficients_are_the_integers_scaled():
    design = quillmere.design(quillmere.plan(48000, 8000, filter=FilterSpec(attenuation_db=80)),
                              quantize=16)
    stage = design.stages[0]
    rounded = stage.quantized
    assert rounded.bits == 16 and rounded.integers.dtype == np.int32
    assert np.max(np.abs(rounded.integers)) <= 2 ** 15 - 1
    assert np.array_equal(rounded.coefficients, rounded.integers * 2.0 ** -rounded.scale_exponent)
    assert np.max(np.abs(rounded.coefficients - stage.coefficients)) <= 2.0 ** -rounded.scale_exponent
    _, attenuation = band_extremes(rounded.coefficients, stage.l, stage.upsampled_rate_hz,
                                   stage.passband_hz, stage.stopband_hz, 1 << 16)
    assert attenuation == pytest.approx(rounded.measured.attenuation_db, abs=0.3)
    assert design.quantized is not None


def test_arrays_are_read_only_views_that_outlive_the_design():
    design = quillmere.design(44100, stages=[(10, 7)])
    h = design.stages[0].coefficients
    kept = h.copy()
    with pytest.raises(ValueError):
        h[0] = 1.0
    del design
    gc.collect()
    # Other allocations in between would overwrite freed memory.
    quillmere.design(44100, stages=[(3, 2), (7, 10)])
    assert np.array_equal(h, kept)
    assert not h.flags.writeable and h.base is not None


def test_a_failed_design_is_a_status_not_an_exception():
    # An equiripple design is refused beyond 4095 taps.
    design = quillmere.design(44100, stages=[(160, 147)], method="equiripple")
    assert design.status is Status.CALCULATION_ERROR
    assert design.field == "stages" and design.message
    assert not design.meets_spec
