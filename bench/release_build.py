"""The Release build (build-rel) the benchmark scripts measure."""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-rel")


def build(target):
    """Installs the packages, configures Release and builds `target`; returns its path."""
    quiet = {"check": True, "stdout": subprocess.DEVNULL}
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh")], **quiet)
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release"], **quiet)
    subprocess.run(["cmake", "--build", BUILD, "-j", str(os.cpu_count() or 1), "--target", target], **quiet)
    return os.path.join(BUILD, target)
