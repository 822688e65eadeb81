"""A browser view of a frameyard host: every camera's blobs live, one camera's image, its
thresholds and settings, the host's notifications.

    frameyard-view --host 127.0.0.1 --port 4000 --http-port 8080     # or: python3 -m frameyard.view

Needs aiohttp (the package's optional dependency "view"); nothing else of frameyard imports it.
"""
