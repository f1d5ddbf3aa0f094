"""The release tool: packs an app folder, publishes a release into a static
tree that both origins serve, and serves such a tree on loopback.

Standard library only; see tools/release for the command line.
"""
