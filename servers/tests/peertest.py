"""What the daemons' peer tests in Python share: checks that are counted and
printed, waits with a deadline, and the daemon processes of a test."""
import os
import signal
import time

failures = []


def check(what, condition, detail=""):
    """Prints "ok: WHAT" or "FAILED: WHAT (DETAIL)" and counts the failure."""
    if condition:
        print("ok: " + what)
    else:
        failures.append(what)
        print("FAILED: " + what + (" (" + detail + ")" if detail else ""))


def wait_until(condition, seconds):
    """condition()'s first true value within the time, else its last value."""
    end = time.time() + seconds
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    return condition()


def processes_named(name):
    """Live processes (no zombies) whose command name is name."""
    found = []
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if f.read().strip() != name:
                    continue
            with open("/proc/%s/stat" % pid) as f:
                if f.read().rsplit(")", 1)[1].split()[0] != "Z":
                    found.append(int(pid))
        except (OSError, IndexError):
            pass
    return found


def kill_of_runtime(runtime, names):
    """Kills the processes of these names started with QX_RUNTIME_DIR=runtime:
    what a failed check may leave running."""
    for name in names:
        for pid in processes_named(name):
            try:
                with open("/proc/%d/environ" % pid, "rb") as f:
                    if ("QX_RUNTIME_DIR=" + runtime).encode() in f.read().split(b"\0"):
                        os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
