"""``python -m zellik_sim``: the command line (zellik_sim.cli)."""

import sys

from zellik_sim.cli import main

if __name__ == "__main__":
    sys.exit(main())
