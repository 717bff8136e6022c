class PredicateCounts:
    """How often one filter predicate was satisfied and not."""

    def __init__(self):
        self.satisfied = 0
        self.unsatisfied = 0

    def update_count(self, *, condition):
        if condition:
            self.satisfied += 1
        else:
            self.unsatisfied += 1
