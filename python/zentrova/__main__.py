"""`python -m zentrova`: the same command as the `zentrova` console script."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
