"""What the rastrel comparison scripts share: the test picture and a
registry with rastrel registered."""
import os
import subprocess

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
