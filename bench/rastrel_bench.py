"""What the rastrel comparison scripts share: the test picture, a registry
with rastrel registered, and the timing."""
import os
import resource
import statistics
import subprocess
import time

from PIL import Image


def photograph(width, height):
    """Smooth shading, flat areas (runs) and noise, as a photograph has them."""
    shade = Image.linear_gradient("L").resize((width, height))
    noise = Image.effect_noise((width, height), 24)
    flat = Image.new("L", (width, height), 90)
    mask = Image.linear_gradient("L").rotate(90).resize((width, height)).point(
        lambda v: 255 if v > 128 else 0)
    return Image.merge("RGB", (shade, Image.composite(flat, noise, mask),
                               shade.transpose(Image.Transpose.FLIP_LEFT_RIGHT)))


def registered(build, work):
    """The rastrel tool and an environment whose registry in `work` knows rastrel."""
    env = dict(os.environ, RASTREL_REGISTRY=os.path.join(work, "registry.reg"))
    subprocess.run([os.path.join(build, "bin", "regsvr"), "-s",
                    os.path.join(build, "lib", "librastrel.so")], env=env, check=True)
    return os.path.join(build, "bin", "rastrel"), env


def cpu_seconds():
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def compare(ours, theirs, rounds=11):
    """Median wall and processor seconds (user + system, child processes
    included: on a busy machine the steadier figure) of each action over
    `rounds` runs, the two taking turns so that both meet the same load,
    after one run each that warms the page cache."""
    ours()
    theirs()
    times = {ours: ([], []), theirs: ([], [])}
    for _ in range(rounds):
        for action in (ours, theirs):
            cpu, start = cpu_seconds(), time.perf_counter()
            action()
            times[action][0].append(time.perf_counter() - start)
            times[action][1].append(cpu_seconds() - cpu)
    return [(statistics.median(times[a][0]), statistics.median(times[a][1]))
            for a in (ours, theirs)]


def median_seconds(action, rounds=11):
    """Median wall seconds of `rounds` runs of one action after a warm one."""
    action()
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def report(name, what, ours, theirs, note="", rounds=11):
    """Compares the two actions and prints one line: wall seconds and ratio,
    processor seconds and ratio."""
    ours, theirs = compare(ours, theirs, rounds)
    print(f"{name:<16} {what:<20} {ours[0]:>9.3f} {theirs[0]:>9.3f} {ours[0] / theirs[0]:>6.2f}"
          f" {ours[1]:>9.3f} {theirs[1]:>9.3f} {ours[1] / theirs[1]:>6.2f}{note}")


def header(other="other"):
    print(f"{'file':<16} {'what':<20} {'ours s':>9} {other + ' s':>9} {'ratio':>6}"
          f" {'ours cpu':>9} {other + ' cpu':>9} {'ratio':>6}")
