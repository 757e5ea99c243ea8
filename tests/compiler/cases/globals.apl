⍝ Globals with initial values of every kind, and a global without a value
⍝ MAIN: GLOB
G1←42
G2←'text' (1 2 3) (2 2⍴⍳4)
G3←2.5 3.25
G4←⎕BOOL 1 0 1 1
G5←⎕SHORT 1 ¯2 3
G6←'c'
G7←⍳0
G8←2 3⍴'abcdef'
∇GLOB
⎕←G1 ⋄ ⎕←G2 ⋄ ⎕←G3 ⋄ ⎕←G4 ⋄ ⎕←G5 ⋄ ⎕←G6 ⋄ ⎕←⍴G7 ⋄ ⎕←G8
⎕←(⎕DR G4),(⎕DR G5)
NEW←G1+1
SHOW
G1←'changed'
SHOW
∇
∇SHOW
⎕←NEW ⋄ ⎕←G1
∇
