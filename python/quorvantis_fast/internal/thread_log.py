"""A per-thread list of recent items that a reader takes in one go."""

import threading


class ThreadLog(threading.local):
    """Keeps the last ``cap`` items added on each thread until taken."""

    def __init__(self, cap):
        self.cap = cap
        self.items = []

    def add(self, item):
        self.items.append(item)
        del self.items[: -self.cap]

    def take(self):
        items, self.items = self.items, []
        return items
