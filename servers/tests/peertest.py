"""What the daemons' peer tests in Python share: checks that are counted and
printed, waits with a deadline, and the daemon processes of a test."""
import os
import shutil
import signal
import subprocess
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


def start_portwarden(program, table_dir, log_path):
    """The super-server in the folder of its table file, its output to log_path."""
    return subprocess.Popen([program], cwd=table_dir, stdin=subprocess.DEVNULL, stdout=open(log_path, "w"),
                            stderr=subprocess.STDOUT)


def finish(portwarden, log_path, scratch, daemon_names):
    """Stops the super-server and what it started, shows its output when a
    check failed, removes the scratch folder; returns the exit status."""
    if portwarden:
        portwarden.terminate()
        portwarden.wait(10)
    kill_of_runtime(os.environ.get("QX_RUNTIME_DIR", "-"), daemon_names)
    if failures:
        try:
            with open(log_path) as f:
                print("portwarden said:\n" + f.read())
        except OSError:
            pass
    shutil.rmtree(scratch, ignore_errors=True)
    print("%d checks failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0
