"""The demo behind tools/demo: a release published with tools/release,
installed and then updated by the real setup program under Wine.

Standard library only; tools/demo builds what it needs and runs it.
"""
