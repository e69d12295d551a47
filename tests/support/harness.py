"""What the Python tests share: free ports and descriptor counts.

Import it with the folder on the path:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
"""
import os
import socket


def free_port(kind=socket.SOCK_STREAM):
    """A loopback port that was free a moment ago (TCP, or UDP with SOCK_DGRAM)."""
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def descriptor_count(pid):
    """Open descriptors of a running process (Linux /proc)."""
    return len(os.listdir(f"/proc/{pid}/fd"))
