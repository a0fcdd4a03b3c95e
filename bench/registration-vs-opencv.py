#!/usr/bin/env python3
"""The centre search of merkanix beside an OpenCV equivalent, on the same
simulated millimetre-paper pairs, in one run: the time of the whole search
(medians), their ratio, and the accuracy of both against the simulator's
truth. OpenCV serves only as the anchor of this comparison.

usage: bench/registration-vs-opencv.py [BUILD] [--pairs K]

OpenCV's equivalent: cv2.dft magnitude spectra (log, high-pass emphasis),
cv2.warpPolar (logarithmic) and cv2.phaseCorrelate (Hanning window) for
rotation and scale, cv2.resize
for the rescale, cv2.phaseCorrelate for the sub-pixel translation, and the
same optical-centre formula. Both start from the same frames, scaled to
0..255 and zero-filled to 1024 x 1024.
"""
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np

N = 1024
W, H = 656, 492


def load(path):
    samples = np.fromfile(path, dtype="<u2", offset=174, count=W * H).astype(np.float64)
    samples = np.pad(samples, (0, W * H - samples.size))
    top = samples.max()
    scaled = np.rint(samples / top * 255) if top > 0 else samples * 0
    return scaled.reshape(H, W).astype(np.float32)


def pad(image):
    out = np.zeros((N, N), np.float32)
    out[: image.shape[0], : image.shape[1]] = image
    return out


HANNING = cv2.createHanningWindow((N, N), cv2.CV_32F)
# The usual high-pass emphasis of Fourier-Mellin registration (Reddy and
# Chatterji); without it, or with the plain or log magnitude alone, OpenCV's
# rotation-scale step keeps finding the frame border's magnification of 1.
_fy, _fx = np.mgrid[0:N, 0:N]
_c = np.cos(np.pi * (_fx - N / 2) / N) * np.cos(np.pi * (_fy - N / 2) / N)
HIGH_PASS = ((1 - _c) * (2 - _c)).astype(np.float32)


def log_polar_magnitude(padded):
    spectrum = cv2.dft(padded, flags=cv2.DFT_COMPLEX_OUTPUT)
    magnitude = np.fft.fftshift(cv2.magnitude(spectrum[..., 0], spectrum[..., 1]))
    emphasised = np.log1p(magnitude) * HIGH_PASS
    return cv2.warpPolar(emphasised, (N, N), (N / 2, N / 2), N / 2,
                         cv2.WARP_POLAR_LOG + cv2.INTER_LINEAR + cv2.WARP_FILL_OUTLIERS)


def opencv_centre(image1, image2, padded1, padded2):
    (sx, sy), _ = cv2.phaseCorrelate(log_polar_magnitude(padded1),
                                     log_polar_magnitude(padded2), HANNING)
    m = math.exp(-sx * math.log(N / 2) / N)
    source, other, s = (image1, padded2, m) if m <= 1 else (image2, padded1, 1 / m)
    rescaled = cv2.resize(source, (int(W * s), int(H * s)), interpolation=cv2.INTER_LINEAR)
    # phaseCorrelate(a, b) reports how far b's content lies from a's, as ours does.
    (dx, dy), _ = cv2.phaseCorrelate(pad(rescaled), other)
    if m < 1:
        return m, dx / (1 - m), dy / (1 - m)
    if m > 1:
        return m, m * dx / (m - 1), m * dy / (m - 1)
    return m, 0.0, 0.0


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def simulate(bin_dir, folder, seed, xc, yc, extra=()):
    os.makedirs(folder)
    run([f"{bin_dir}/merkanix-simulate", folder, "--calibration", "--seed", str(seed),
         "--centre-x", f"{xc:.2f}", "--centre-y", f"{yc:.2f}", "--etalons", "0", *extra])
    names = sorted(n for n in os.listdir(folder) if n.endswith(".tif"))
    with open(os.path.join(folder, "truth.json")) as f:
        truth = json.load(f)
    return [os.path.join(folder, n) for n in names], truth


def ours_shift(bin_dir, folder, a, b):
    pa, pb = os.path.join(folder, "a.raw"), os.path.join(folder, "b.raw")
    a.astype(np.float32).tofile(pa)
    b.astype(np.float32).tofile(pb)
    dx, dy = map(float, run([f"{bin_dir}/merkanix-registration-bench", "--shift", pa, pb,
                             str(a.shape[0])]).split())
    return dx, dy


def band_limited(seed, cutoff=40):
    rng = np.random.default_rng(seed)
    f = np.fft.fftfreq(N) * N
    gauss = np.exp(-(f[:, None] ** 2 + f[None, :] ** 2) / (2 * cutoff**2))
    image = np.real(np.fft.ifft2(np.fft.fft2(rng.standard_normal((N, N))) * gauss))
    return 128 + image * (40 / image.std())


def fourier_shift(image, dx, dy):
    f = np.fft.fftfreq(N)
    phase = np.exp(-2j * np.pi * (f[:, None] * dy + f[None, :] * dx))
    return np.real(np.fft.ifft2(np.fft.fft2(image) * phase))


def summary(errors):
    rms = math.sqrt(sum(e * e for e in errors) / len(errors))
    return f"{rms:6.3f} / {max(errors):6.3f}"


def main():
    args = [a for a in sys.argv[1:]]
    pairs = 8
    if "--pairs" in args:
        i = args.index("--pairs")
        pairs = int(args[i + 1])
        del args[i : i + 2]
    build = args[0] if args else "build"
    bin_dir = os.path.join(build, "bin")
    rng = np.random.default_rng(1)
    with tempfile.TemporaryDirectory() as scratch:
        cases = []
        for k in range(pairs):
            xc, yc = 300 + 40 * rng.random(), 226 + 40 * rng.random()
            files, truth = simulate(bin_dir, os.path.join(scratch, f"pair{k}"), k + 1, xc, yc)
            cases.append((files, truth))

        # Accuracy of ours through the command-line tool, time through the benchmark.
        ours_errors, ours_steps = [], []
        b = 512 ** (1 / N)
        for files, truth in cases:
            out = dict(line.split() for line in run([f"{bin_dir}/merkanix-calibrate", *files]).splitlines())
            ours_errors.append(math.hypot(float(out["xc"]) - truth["xc"], float(out["yc"]) - truth["yc"]))
            ours_steps.append(abs(math.log(float(out["magnification"]) / truth["magnification"], b)))
        bench_args = [f"{bin_dir}/merkanix-registration-bench"]
        for files, _ in cases:
            bench_args += ["--pair", *files]
        report = json.loads(run(bench_args + ["--benchmark_filter=FindCentreOnFiles",
                                              "--benchmark_repetitions=3",
                                              "--benchmark_format=json"]))
        ours_times = [r["real_time"] for r in report["benchmarks"]
                      if r.get("aggregate_name") == "median"]

        cv_errors, cv_steps, cv_times = [], [], []
        for files, truth in cases:
            image1, image2 = load(files[0]), load(files[1])
            padded1, padded2 = pad(image1), pad(image2)
            runs = []
            for _ in range(3):
                start = time.perf_counter()
                m, xc, yc = opencv_centre(image1, image2, padded1, padded2)
                runs.append((time.perf_counter() - start) * 1000)
            cv_times.append(statistics.median(runs))
            cv_errors.append(math.hypot(xc - truth["xc"], yc - truth["yc"]))
            cv_steps.append(abs(math.log(m / truth["magnification"], b)))

        # Sub-pixel shifts: cyclic band-limited images, and whole frames with
        # their borders (the paper seen with the optical centre moved; no
        # noise, which would be the same pattern in both frames, while the
        # light falloff stays where it is).
        shifts = [(0.3, -0.45), (-7.25, 3.6), (12.8, -20.1), (-0.05, 0.7), (100.4, -60.35)]
        cyclic = {"ours": [], "cv": []}
        image = band_limited(5)
        for dx, dy in shifts:
            moved = fourier_shift(image, dx, dy)
            ox, oy = ours_shift(bin_dir, scratch, image, moved)
            cyclic["ours"].append(max(abs(ox - dx), abs(oy - dy)))
            (cx, cy), _ = cv2.phaseCorrelate(image.astype(np.float32), moved.astype(np.float32))
            cyclic["cv"].append(max(abs(cx - dx), abs(cy - dy)))
        frames = {"ours": [], "cv": []}
        frame_shifts = [(0.3, -0.45), (-2.25, 1.6), (4.8, -3.1), (-0.5, 0.7)]
        for k, (dx, dy) in enumerate(frame_shifts):
            same = ("--reading2", "35", "--noise", "0")
            a_files, _ = simulate(bin_dir, os.path.join(scratch, f"shiftA{k}"), 50 + k, 318, 250, same)
            b_files, _ = simulate(bin_dir, os.path.join(scratch, f"shiftB{k}"), 50 + k, 318 + dx, 250 + dy, same)
            a, b_image = pad(load(a_files[0])), pad(load(b_files[0]))
            ox, oy = ours_shift(bin_dir, scratch, a, b_image)
            frames["ours"].append(max(abs(ox - dx), abs(oy - dy)))
            (cx, cy), _ = cv2.phaseCorrelate(a, b_image)
            frames["cv"].append(max(abs(cx - dx), abs(cy - dy)))

    ours_ms, cv_ms = statistics.median(ours_times), statistics.median(cv_times)
    print(f"{pairs} simulated millimetre-paper pairs, 1024 x 1024; OpenCV {cv2.__version__}, "
          f"{cv2.getNumThreads()} threads")
    print(f"{'':44}{'merkanix':>18}{'OpenCV':>18}")
    print(f"{'centre search, median ms':44}{ours_ms:18.1f}{cv_ms:18.1f}")
    print(f"{'centre error vs truth, px (RMS / max)':44}{summary(ours_errors):>18}{summary(cv_errors):>18}")
    print(f"{'magnification error, steps of b (RMS / max)':44}{summary(ours_steps):>18}{summary(cv_steps):>18}")
    print(f"{'sub-pixel error, cyclic, px (RMS / max)':44}{summary(cyclic['ours']):>18}{summary(cyclic['cv']):>18}")
    print(f"{'sub-pixel error, whole frames, px (RMS / max)':44}{summary(frames['ours']):>18}{summary(frames['cv']):>18}")
    print(f"time ratio merkanix / OpenCV: {ours_ms / cv_ms:.2f}")


if __name__ == "__main__":
    main()
