"""One controller per deck: a lease that its holder renews and another client
can take only once it is released or has expired."""

from dataclasses import dataclass
from typing import Callable, Optional, Tuple


@dataclass
class Lease:
    seconds: float
    clock: Callable[[], float]
    holder: Optional[str] = None
    expires: float = 0.0

    def current(self) -> Optional[str]:
        """The client in control now, if any."""
        if self.holder is not None and self.clock() >= self.expires:
            self.holder = None
        return self.holder

    def take(self, client: str) -> Tuple[bool, Optional[str]]:
        """Takes or renews the lease for `client`: (True, client), or (False,
        the holder) while another client holds it."""
        holder = self.current()
        if holder is not None and holder != client:
            return False, holder
        self.holder, self.expires = client, self.clock() + self.seconds
        return True, client

    def release(self, client: str) -> bool:
        """Gives the lease up; False when `client` did not hold it."""
        if self.current() != client:
            return False
        self.holder = None
        return True

    def describe(self) -> Optional[dict]:
        holder = self.current()
        if holder is None:
            return None
        return {"holder": holder, "expires_in": round(max(0.0, self.expires - self.clock()), 1),
                "seconds": self.seconds}
